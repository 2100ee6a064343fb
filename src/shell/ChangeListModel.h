#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <vector>

class ChangePreview;

// The changes of a preview as a table (key, before, after, note) that fetches only the
// rows shown, narrowed to those whose values hold a text.
class ChangeListModel : public QAbstractTableModel {
 public:
  enum Column { Key, Before, After, Note, ColumnCount };
  // The value itself, without marks, for the painter of the changed parts.
  static constexpr int RawTextRole = Qt::UserRole;
  // The other value of the row, so the painter can find what changed.
  static constexpr int OtherTextRole = Qt::UserRole + 1;

  explicit ChangeListModel(const ChangePreview& preview, QObject* parent = nullptr);

  void setFilter(const QString& text);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  qsizetype entryAt(int row) const;

  const ChangePreview& preview_;
  bool filtered_ = false;
  std::vector<qsizetype> shown_;  // the entries that hold the filter's text
};

// Paints a value with its invisible characters marked in grey and the part that changes
// on a highlight.
class ChangeDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};
