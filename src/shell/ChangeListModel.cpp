#include "ChangeListModel.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextDocument>
#include <algorithm>

#include "ChangePreview.h"
#include "VisibleText.h"

ChangeListModel::ChangeListModel(ChangePreview& preview, QObject* parent)
    : ChangeListModel(std::vector<ChangePreview*>{&preview}, parent) {}

ChangeListModel::ChangeListModel(std::vector<ChangePreview*> previews, QObject* parent)
    : QAbstractTableModel(parent), previews_(std::move(previews)) {
  starts_.push_back(0);
  for (const ChangePreview* preview : previews_)
    starts_.push_back(starts_.back() + preview->size());
}

void ChangeListModel::tick(const QList<int>& rows, bool ticked) {
  for (const int row : rows) {
    const At at = entryAt(row);
    at.preview->leaveOut(at.entry, !ticked);
  }
  if (!rows.isEmpty()) {
    const auto [first, last] = std::minmax_element(rows.begin(), rows.end());
    emit dataChanged(index(*first, Key), index(*last, Key), {Qt::CheckStateRole});
  }
}

void ChangeListModel::tickShown(bool ticked) {
  QList<int> rows;
  for (int row = 0; row < rowCount(); ++row) rows << row;
  tick(rows, ticked);
}

bool ChangeListModel::ticked(int row) const {
  const At at = entryAt(row);
  return !at.preview->leftOut(at.entry);
}

qsizetype ChangeListModel::tickedChanges() const {
  qsizetype ticked = 0;
  for (const ChangePreview* preview : previews_) ticked += preview->chosen();
  return ticked;
}

Qt::ItemFlags ChangeListModel::flags(const QModelIndex& index) const {
  const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
  return index.column() == Key ? flags | Qt::ItemIsUserCheckable : flags;
}

bool ChangeListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != Key || role != Qt::CheckStateRole) return false;
  tick({index.row()}, value.value<Qt::CheckState>() == Qt::Checked);
  return true;
}

void ChangeListModel::setFilter(const QString& text) {
  beginResetModel();
  filtered_ = !text.isEmpty();
  shown_.clear();
  if (filtered_) {
    for (qsizetype n = 0; n < entries(); ++n) {
      const At at = entryNumbered(n);
      if (at.preview->contains(at.entry, text)) shown_.push_back(n);
    }
  }
  endResetModel();
}

int ChangeListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return int(filtered_ ? qsizetype(shown_.size()) : entries());
}

int ChangeListModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return previews_.size() > 1 ? Field + 1 : Field;
}

ChangeListModel::At ChangeListModel::entryNumbered(qsizetype n) const {
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), n);
  const std::size_t part = std::size_t(after - starts_.begin()) - 1;
  return {previews_[part], n - starts_[part]};
}

ChangeListModel::At ChangeListModel::entryAt(int row) const {
  return entryNumbered(filtered_ ? shown_[std::size_t(row)] : row);
}

QVariant ChangeListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const At at = entryAt(index.row());
  const ChangePreview::Entry entry = at.preview->entry(at.entry);
  const bool value = index.column() == Before || index.column() == After;
  const QString& text = index.column() == Before ? entry.before : entry.after;
  switch (role) {
    case Qt::CheckStateRole:
      if (index.column() != Key) return {};
      return at.preview->leftOut(at.entry) ? Qt::Unchecked : Qt::Checked;
    case Qt::AccessibleDescriptionRole:
      if (index.column() != Key) return {};
      return at.preview->leftOut(at.entry) ? QStringLiteral("not ticked: Apply leaves it")
                                           : QStringLiteral("ticked: Apply writes it");
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      if (index.column() == Key) return WithControlMarks(entry.key);
      if (index.column() == Field) {
        const RunDescription& run = at.preview->description();
        return WithControlMarks(run.table + u'.' + run.field);
      }
      if (index.column() == Note) {
        return entry.tooLong ? QStringLiteral("too long for the column") : QString();
      }
      return WithVisibleMarks(text);
    case Qt::ForegroundRole:
      if (index.column() == Note) return QColor(Qt::darkRed);
      return {};
    case RawTextRole:
      return value ? QVariant(text) : QVariant();
    case OtherTextRole:
      return value ? QVariant(index.column() == Before ? entry.after : entry.before) : QVariant();
    default:
      return {};
  }
}

QVariant ChangeListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return {};
  switch (section) {
    case Key:
      return QStringLiteral("Key");
    case Before:
      return QStringLiteral("Before");
    case After:
      return QStringLiteral("After");
    case Field:
      return QStringLiteral("Field");
    default:
      return QStringLiteral("Note");
  }
}

namespace {

// The value as HTML: marks in grey, the code units that change on a highlight.
QString markedHtml(const QString& text, const std::vector<bool>& changed) {
  QString html;
  bool highlighted = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (changed[std::size_t(i)] != highlighted) {
      highlighted = changed[std::size_t(i)];
      html += highlighted ? QStringLiteral("<span style=\"background-color:#ffd966\">")
                          : QStringLiteral("</span>");
    }
    const QChar mark = VisibleMark(text[i]);
    if (!mark.isNull()) {
      html += QStringLiteral("<span style=\"color:#7a7a7a\">") + mark + QStringLiteral("</span>");
    } else {
      html += QString(text[i]).toHtmlEscaped();
    }
  }
  if (highlighted) html += QStringLiteral("</span>");
  return html;
}

}  // namespace

void ChangeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
  const QVariant raw = index.data(ChangeListModel::RawTextRole);
  if (!raw.isValid()) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  const QString text = raw.toString();
  const QString other = index.data(ChangeListModel::OtherTextRole).toString();
  const bool isBefore = index.column() == ChangeListModel::Before;
  const ChangedParts parts = isBefore ? ChangedPartsOf(text, other) : ChangedPartsOf(other, text);

  QStyleOptionViewItem plain = option;
  initStyleOption(&plain, index);
  plain.text.clear();
  plain.widget->style()->drawControl(QStyle::CE_ItemViewItem, &plain, painter, plain.widget);

  QTextDocument document;
  document.setDefaultFont(option.font);
  document.setDocumentMargin(2);
  document.setHtml(QStringLiteral("<nobr>") +
                   markedHtml(text, isBefore ? parts.before : parts.after) +
                   QStringLiteral("</nobr>"));
  painter->save();
  painter->translate(option.rect.topLeft());
  painter->setClipRect(option.rect.translated(-option.rect.topLeft()));
  QAbstractTextDocumentLayout::PaintContext context;
  context.palette = option.palette;
  if (option.state & QStyle::State_Selected) {
    context.palette.setColor(QPalette::Text, option.palette.color(QPalette::HighlightedText));
  }
  document.documentLayout()->draw(painter, context);
  painter->restore();
}
