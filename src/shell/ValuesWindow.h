#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QTimer>
#include <memory>

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
// most frequent first, a filter (text, or a regular expression), and the totals.
class ValuesWindow : public QDialog {
 public:
  ValuesWindow(QWidget* mainWindow, Dialogs& dialogs);
  ~ValuesWindow() override;
  // Counts the values of `field` of `table` (the window answers meanwhile; Close stops it)
  // and lists them.
  void count(const QString& connectionString, const QString& table, const QString& field);
  bool isCounting() const { return counting_; }

  QLabel* totalsText;
  QLineEdit* filterBox;
  QCheckBox* regexBox;
  QLabel* problemText;
  QTableView* valueList;
  QPushButton* closeButton;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void layOut();
  void filter();

  Dialogs& dialogs_;
  ValueList list_;
  ValueListModel model_;
  QString what_;  // "customers.city"
  bool counting_ = false;
  QTimer filterDelay_;
};
