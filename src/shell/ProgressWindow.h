#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

#include "RunProgress.h"

class QFormLayout;
class QLabel;
class QProgressBar;
class QPushButton;

// The window over the main window while a run goes through its records: what runs, how
// far it got, how fast, and "Stop"; at the end the summary, until the user closes it.
class ProgressWindow : public QDialog, public RunWatcher {
 public:
  explicit ProgressWindow(QWidget* mainWindow);

  void runStarted(const RunDescription& run, const RunProgress& progress,
                  std::function<void()> stop) override;
  void runEnded(const RunSummary& summary) override;

  bool isRunning() const { return progress_ != nullptr; }

  QLabel* tableValue;
  QLabel* fieldValue;
  QLabel* operationValue;
  QLabel* answersValue;
  QLabel* rowsValue;
  QProgressBar* progressBar;
  QLabel* countsText;
  QLabel* rateText;
  QLabel* noteText;  // shown only for a run with a note
  QLabel* summaryText;
  QPushButton* stopButton;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void layOut();
  void onStopOrClose();
  void showProgress();

  const RunProgress* progress_ = nullptr;
  std::function<void()> stop_;
  QString since_;
  QString stopping_;
  QElapsedTimer clock_;
  QTimer refresh_;
  QFormLayout* what_;
};
