#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

#include "RowCondition.h"
#include "ValueList.h"

class Dialogs;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// A column's distinct values as a table that reads only the rows shown (ValueList pages
// them): count, value (invisible characters marked, NULL apart from the empty text) and
// length. Sorting by a column asks the server's ranks.
class ValueListModel : public QAbstractTableModel {
 public:
  enum Column { Count, Value, Length, ColumnCount };
  explicit ValueListModel(ValueList& list, QObject* parent = nullptr);

  // Shows the list anew, as ValueList::show.
  void showValues(const QString& filter, bool regex);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

 private:
  ValueList& list_;
  ValueList::Order order_ = ValueList::Order::Count;
  bool descending_ = false;
  QString filter_;
  bool regex_ = false;
};

// "Run" → "Values…": every distinct value of the chosen field with how many rows hold it,
// most frequent first, a filter (text, or a regular expression), and the totals. "Edit…"
// gives every row that holds the chosen value a new text, through `edit`: a map-values
// answer ([[old, new]]) for the table and field, previewed and applied as any run.
class ValuesWindow : public QDialog {
 public:
  using Edit = std::function<void(const QString& table, const QString& field, const QString& map)>;
  // "Filter Rows to This Value" hands the main window the condition for its rows.
  using FilterRows = std::function<void(const QString& condition)>;
  // "Cluster…" opens the cluster window on the same field.
  using Cluster = std::function<void(const QString& table, const QString& field)>;
  ValuesWindow(QWidget* mainWindow, Dialogs& dialogs, Edit edit, FilterRows filterRows,
               Cluster cluster);
  ~ValuesWindow() override;
  // Counts the values of `field` of `table` (the window answers meanwhile; Close stops it)
  // and lists them.
  void count(const QString& connectionString, const QString& table, const QString& field,
             const QString& rows = {});
  bool isCounting() const { return counting_; }
  // Counts again, once rows of its table were written.
  void countAgain(const QString& table);

  QLabel* totalsText;
  QLineEdit* filterBox;
  QCheckBox* regexBox;
  QLabel* problemText;
  QTableView* valueList;
  QPushButton* editButton;
  QPushButton* filterRowsButton;
  QPushButton* clusterButton;
  QPushButton* closeButton;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void layOut();
  void filter();
  void onEditClicked();
  void followChoice();

  Dialogs& dialogs_;
  Edit edit_;
  FilterRows filterRows_;
  Cluster cluster_;
  FieldRows chosen_;
  ValueList list_;
  ValueListModel model_;
  bool counting_ = false;
  QTimer filterDelay_;
};
