#include "ValuesWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "Controls.h"
#include "DbError.h"
#include "Dialogs.h"
#include "RowCondition.h"
#include "RunProgress.h"
#include "VisibleText.h"
#include "WorkerThread.h"

namespace {

constexpr int FilterDelayMilliseconds = 250;

// Text as it is shown; bytes that are no text (of a binary column) in hex.
QString shownValue(const QByteArray& bytes) {
  return IsUtf8(bytes) ? WithVisibleMarks(QString::fromUtf8(bytes))
                       : QStringLiteral("0x") + QString::fromLatin1(bytes.toHex());
}

}  // namespace

ValueListModel::ValueListModel(ValueList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {}

void ValueListModel::showValues(const QString& filter, bool regex) {
  beginResetModel();
  filter_ = filter;
  regex_ = regex;
  try {
    list_.show(order_, descending_, filter, regex);
  } catch (...) {
    endResetModel();
    throw;
  }
  endResetModel();
}

int ValueListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(std::min<qint64>(list_.shown(), INT_MAX));
}

int ValueListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant ValueListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const ValueCount& counted = list_.at(index.row());
  switch (role) {
    case Qt::DisplayRole:
      if (index.column() == Count) return CountText(counted.rows);
      if (index.column() == Length) {
        // In characters, as the server counts them, not in UTF-16 units.
        return counted.value ? QVariant(QString::fromUtf8(*counted.value).toUcs4().size())
                             : QVariant();
      }
      return counted.value ? shownValue(*counted.value) : QStringLiteral("NULL");
    case Qt::AccessibleTextRole:
      if (index.column() == Value && counted.value && counted.value->isEmpty()) {
        return QStringLiteral("empty text");
      }
      return {};
    case Qt::FontRole:
      if (index.column() == Value && !counted.value) {
        QFont italic;
        italic.setItalic(true);
        return italic;
      }
      return {};
    case Qt::ForegroundRole:
      return index.column() == Value && !counted.value ? QVariant(QColor(Qt::darkGray))
                                                       : QVariant();
    case Qt::TextAlignmentRole:
      return index.column() == Value ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant ValueListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  static const QString Headers[] = {QStringLiteral("Rows"), QStringLiteral("Value"),
                                    QStringLiteral("Length")};
  return Headers[section];
}

// The count sorts most first when asked to descend; the server ranks by fewest first.
void ValueListModel::sort(int column, Qt::SortOrder order) {
  order_ = column == Count   ? ValueList::Order::Count
           : column == Value ? ValueList::Order::Value
                             : ValueList::Order::Length;
  descending_ = (order == Qt::DescendingOrder) != (column == Count);
  try {
    showValues(filter_, regex_);
  } catch (const DbError&) {
    // The filter was taken before; a sort does not make it bad.
  }
}

ValuesWindow::ValuesWindow(QWidget* mainWindow, Dialogs& dialogs, Edit edit, FilterRows filterRows,
                           Cluster cluster)
    : QDialog(mainWindow),
      dialogs_(dialogs),
      edit_(std::move(edit)),
      filterRows_(std::move(filterRows)),
      cluster_(std::move(cluster)),
      model_(list_) {
  setObjectName(QStringLiteral("valuesWindow"));
  setWindowTitle(QStringLiteral("Klarifeld: Values"));
  setAccessibleName(windowTitle());
  setFont(Arial(9, false));
  layOut();
  filterDelay_.setSingleShot(true);
  filterDelay_.setInterval(FilterDelayMilliseconds);
  connect(&filterDelay_, &QTimer::timeout, this, [this] { filter(); });
  connect(filterBox, &QLineEdit::textChanged, this, [this] { filterDelay_.start(); });
  connect(regexBox, &QCheckBox::toggled, this, [this] { filter(); });
  connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
  connect(editButton, &QPushButton::clicked, this, [this] { onEditClicked(); });
  connect(clusterButton, &QPushButton::clicked, this,
          [this] { cluster_(chosen_.table, chosen_.field); });
  connect(filterRowsButton, &QPushButton::clicked, this, [this] {
    const QModelIndex current = valueList->currentIndex();
    if (!current.isValid()) return;
    filterRows_(list_.rowsHolding(list_.at(current.row())));
  });
  connect(valueList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { followChoice(); });
  connect(&model_, &QAbstractItemModel::modelReset, this, [this] { followChoice(); });
  followChoice();
}

ValuesWindow::~ValuesWindow() = default;

void ValuesWindow::layOut() {
  totalsText = ValueLabel(this, "totalsText", QStringLiteral("Totals"));
  filterBox = new QLineEdit(this);
  filterBox->setObjectName(QStringLiteral("filterBox"));
  filterBox->setAccessibleName(QStringLiteral("Show only values containing"));
  filterBox->setPlaceholderText(QStringLiteral("Show only values containing…"));
  regexBox = new QCheckBox(QStringLiteral("&Regular expression"), this);
  regexBox->setObjectName(QStringLiteral("regexBox"));
  problemText = ValueLabel(this, "problemText", QStringLiteral("What is wrong with the filter"));
  problemText->hide();
  valueList = LongTable(this, "valueList", QStringLiteral("Values"), &model_);
  valueList->setColumnWidth(ValueListModel::Count, 90);
  valueList->setColumnWidth(ValueListModel::Value, 420);
  valueList->setSortingEnabled(true);
  valueList->horizontalHeader()->setSortIndicator(ValueListModel::Count, Qt::DescendingOrder);
  editButton = new QPushButton(QStringLiteral("&Edit…"), this);
  editButton->setObjectName(QStringLiteral("editButton"));
  filterRowsButton = new QPushButton(QStringLiteral("&Filter Rows to This Value"), this);
  filterRowsButton->setObjectName(QStringLiteral("filterRowsButton"));
  clusterButton = new QPushButton(QStringLiteral("Cl&uster…"), this);
  clusterButton->setObjectName(QStringLiteral("clusterButton"));
  closeButton = new QPushButton(QStringLiteral("Close"), this);
  closeButton->setObjectName(QStringLiteral("closeButton"));

  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(filterBox, 1);
  filterRow->addWidget(regexBox);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(editButton);
  buttons->addWidget(filterRowsButton);
  buttons->addWidget(clusterButton);
  buttons->addStretch();
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(totalsText);
  layout->addLayout(filterRow);
  layout->addWidget(problemText);
  layout->addWidget(valueList, 1);
  layout->addLayout(buttons);
  resize(700, 520);
}

void ValuesWindow::count(const QString& connectionString, const QString& table,
                         const QString& field, const QString& rows) {
  chosen_ = {connectionString, table, field, rows};
  totalsText->setText(QStringLiteral("Counting the values of %1…").arg(chosen_.text()));
  counting_ = true;
  try {
    RunWhileServingEvents([&] { list_.count(connectionString, table, field, rows); });
  } catch (const DbError& failure) {
    counting_ = false;
    if (isVisible()) {
      totalsText->setText(QStringLiteral("The values of %1 could not be counted: %2")
                              .arg(chosen_.text(), QString::fromUtf8(failure.what())));
    }
    return;
  }
  counting_ = false;
  filter();  // shows the values, under the filter typed meanwhile
  valueList->setFocus();
}

// The filter follows the typing once it pauses; an expression the server refuses is said
// under the box, the list left as it was.
void ValuesWindow::filter() {
  if (counting_) return;
  try {
    model_.showValues(filterBox->text(), regexBox->isChecked());
    problemText->hide();
  } catch (const DbError& failure) {
    problemText->setText(QString::fromUtf8(failure.what()));
    problemText->show();
  }
  const ValueList::Totals& totals = list_.totals();
  QString text = QStringLiteral("%1: %2, %3.")
                     .arg(chosen_.text(),
                          CountedText(totals.rows, QStringLiteral("row"), QStringLiteral("rows")),
                          CountedText(totals.values, QStringLiteral("distinct value"),
                                      QStringLiteral("distinct values")));
  if (!filterBox->text().isEmpty()) {
    text += QStringLiteral(" %1 of them shown.").arg(CountText(list_.shown()));
  }
  totalsText->setText(text);
}

void ValuesWindow::countAgain(const QString& table) {
  if (table == chosen_.table && !counting_ && isVisible()) {
    count(chosen_.connectionString, chosen_.table, chosen_.field, chosen_.rows);
  }
}

// A value that is text can be given a new one; NULL is never written, and bytes that are
// no text cannot be typed.
void ValuesWindow::followChoice() {
  const QModelIndex current = valueList->currentIndex();
  const ValueCount* chosen = current.isValid() ? &list_.at(current.row()) : nullptr;
  editButton->setEnabled(!counting_ && chosen && chosen->value && IsUtf8(*chosen->value));
  filterRowsButton->setEnabled(!counting_ && chosen && (!chosen->value || IsUtf8(*chosen->value)));
}

void ValuesWindow::onEditClicked() {
  const QModelIndex current = valueList->currentIndex();
  if (!current.isValid() || counting_) return;
  const ValueCount chosen = list_.at(current.row());
  if (!chosen.value || !IsUtf8(*chosen.value)) return;
  const QString old = QString::fromUtf8(*chosen.value);
  // The box starts with the value, so that a slip in it is mended, not typed again.
  const std::optional<QString> typed = dialogs_.editText(
      QStringLiteral("New text for the %1 holding \"%2\":")
          .arg(CountedText(chosen.rows, QStringLiteral("row"), QStringLiteral("rows")),
               WithVisibleMarks(old)),
      old);
  if (!typed || typed->isEmpty() || *typed == old) return;
  const QJsonArray pair{old, *typed};
  edit_(chosen_.table, chosen_.field,
        QString::fromUtf8(QJsonDocument(QJsonArray{pair}).toJson(QJsonDocument::Compact)));
}

// Closing while the values are counted ends the count on the server.
void ValuesWindow::closeEvent(QCloseEvent* event) {
  if (counting_) list_.cancel();
  event->accept();
}
