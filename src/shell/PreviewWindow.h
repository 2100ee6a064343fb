#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class ChangeListModel;
class ChangePreview;
struct RecipePreview;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// What a run would change, before anything is written: the counts, every changing value
// before and after with its invisible characters shown, a filter, a tick for each change
// (Space, or "Untick All Shown"), and "Apply" to write exactly the ticked changes, or
// "Close" to write nothing. A recipe's preview shows the changes
// of all its fields, each named, with how many records each step changes.
class PreviewWindow : public QDialog {
 public:
  // `apply` writes the preview's changes; it is called once the window has closed.
  PreviewWindow(QWidget* mainWindow, std::unique_ptr<ChangePreview> preview,
                std::function<void(const ChangePreview&)> apply);
  PreviewWindow(QWidget* mainWindow, std::unique_ptr<RecipePreview> recipe,
                std::function<void(const RecipePreview&)> apply);
  ~PreviewWindow() override;
  // While the main window is busy with other work, Apply waits; `reason` says why. Empty:
  // Apply may go ahead.
  void holdApply(const QString& reason);

  QLabel* whatText;
  QLabel* countsText;
  QLabel* legendText;
  QLineEdit* filterBox;
  QLabel* shownText;  // "1 of 6 shown", while a filter hides some
  QTableView* changeList;
  QPushButton* untickShownButton;
  QPushButton* tickShownButton;
  QPushButton* applyButton;
  QPushButton* closeButton;

 private:
  PreviewWindow(QWidget* mainWindow, std::vector<ChangePreview*> parts,
                std::function<void()> apply);
  void layOut(const QString& what, const QString& counts);
  void layOutChangeList();
  void onApplyClicked();
  void filter();
  void followTicks();
  void tickChosen();

  std::unique_ptr<ChangePreview> preview_;  // one of these two
  std::unique_ptr<RecipePreview> recipe_;
  std::vector<ChangePreview*> parts_;
  QString heldBecause_;  // why Apply waits; empty: it need not
  std::unique_ptr<ChangeListModel> model_;
  std::function<void()> apply_;
  QTimer filterDelay_;
};
