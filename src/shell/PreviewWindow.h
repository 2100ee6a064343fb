#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

class ChangeListModel;
class ChangePreview;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// What a run would change, before anything is written: the counts, every changing value
// before and after with its invisible characters shown, a filter, and "Apply" to write
// exactly these changes, or "Close" to write nothing.
class PreviewWindow : public QDialog {
 public:
  // `apply` writes the preview's changes; it is called once the window has closed.
  PreviewWindow(QWidget* mainWindow, std::unique_ptr<ChangePreview> preview,
                std::function<void(const ChangePreview&)> apply);
  ~PreviewWindow() override;

  const ChangePreview& preview() const { return *preview_; }
  // While the main window is busy with other work, Apply waits; `reason` says why. Empty:
  // Apply may go ahead.
  void holdApply(const QString& reason);

  QLabel* whatText;
  QLabel* countsText;
  QLabel* legendText;
  QLineEdit* filterBox;
  QLabel* shownText;  // "1 of 6 shown", while a filter hides some
  QTableView* changeList;
  QPushButton* applyButton;
  QPushButton* closeButton;

 private:
  void layOut();
  void onApplyClicked();
  void filter();

  std::unique_ptr<ChangePreview> preview_;
  std::unique_ptr<ChangeListModel> model_;
  std::function<void(const ChangePreview&)> apply_;
  QTimer filterDelay_;
};
