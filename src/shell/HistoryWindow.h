#pragma once

#include <QDialog>
#include <functional>

class Dialogs;
class Journal;
class QLabel;
class QPushButton;
class QTreeWidget;

// The runs that the journal keeps, newest first, with "Undo Run" and "Delete".
class HistoryWindow : public QDialog {
 public:
  // `undo` takes the chosen run back; `busy` says whether a run or an undo is under way,
  // when the journal must not change under it.
  HistoryWindow(QWidget* mainWindow, Journal& journal, Dialogs& dialogs,
                std::function<void(qint64 run)> undo, std::function<bool()> busy);

  // Lists the runs again, keeping the chosen one chosen.
  void refresh();
  // Lists the runs again with the newest chosen, as the window opens.
  void showNewest();
  // The run chosen in the list; 0 for none.
  qint64 chosenRun() const;

  QTreeWidget* runList;
  QLabel* keptText;
  QPushButton* undoButton;
  QPushButton* deleteButton;
  QPushButton* closeButton;

 private:
  void layOut();
  void onUndoClicked();
  void onDeleteClicked();
  void enableButtons();

  Journal& journal_;
  Dialogs& dialogs_;
  std::function<void(qint64)> undo_;
  std::function<bool()> busy_;
};
