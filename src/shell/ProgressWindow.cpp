#include "ProgressWindow.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "Controls.h"
#include "Dialogs.h"

namespace {

constexpr int RefreshMilliseconds = 200;
const QString StopCaption = QStringLiteral("Stop");
const QString CloseCaption = QStringLiteral("Close");

}  // namespace

ProgressWindow::ProgressWindow(QWidget* mainWindow) : QDialog(mainWindow) {
  setObjectName(QStringLiteral("progressWindow"));
  setWindowTitle(FullDisplayName + QStringLiteral(": Run"));
  setAccessibleName(windowTitle());
  setFont(Arial(9, false));
  layOut();
  refresh_.setInterval(RefreshMilliseconds);
  connect(&refresh_, &QTimer::timeout, this, [this] { showProgress(); });
  connect(stopButton, &QPushButton::clicked, this, [this] { onStopOrClose(); });
}

void ProgressWindow::layOut() {
  tableValue = ValueLabel(this, "tableValue", QStringLiteral("Table"));
  fieldValue = ValueLabel(this, "fieldValue", QStringLiteral("Field"));
  operationValue = ValueLabel(this, "operationValue", QStringLiteral("Operation"));
  answersValue = ValueLabel(this, "answersValue", QStringLiteral("Answers"));
  rowsValue = ValueLabel(this, "rowsValue", QStringLiteral("Rows"));
  what_ = new QFormLayout;
  what_->addRow(QStringLiteral("Table:"), tableValue);
  what_->addRow(QStringLiteral("Field:"), fieldValue);
  what_->addRow(QStringLiteral("Operation:"), operationValue);
  what_->addRow(QStringLiteral("Answers:"), answersValue);
  what_->addRow(QStringLiteral("Rows:"), rowsValue);

  progressBar = new QProgressBar(this);
  progressBar->setObjectName(QStringLiteral("progressBar"));
  progressBar->setAccessibleName(QStringLiteral("Records done"));
  countsText = ValueLabel(this, "countsText", QStringLiteral("Records so far"));
  rateText = ValueLabel(this, "rateText", QStringLiteral("Rate and time left"));
  noteText = ValueLabel(this, "noteText", QStringLiteral("Note"));
  noteText->setWordWrap(true);
  summaryText = ValueLabel(this, "summaryText", QStringLiteral("Summary"));
  QFont bold = summaryText->font();
  bold.setBold(true);
  summaryText->setFont(bold);

  stopButton = new QPushButton(StopCaption, this);
  stopButton->setObjectName(QStringLiteral("stopButton"));
  stopButton->setAccessibleName(StopCaption);
  stopButton->setAutoDefault(true);
  stopButton->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(stopButton);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(what_);
  layout->addWidget(progressBar);
  layout->addWidget(countsText);
  layout->addWidget(rateText);
  layout->addWidget(noteText);
  layout->addWidget(summaryText);
  layout->addLayout(buttons);
  setMinimumWidth(480);
}

void ProgressWindow::runStarted(const RunDescription& run, const RunProgress& progress,
                                std::function<void()> stop) {
  progress_ = &progress;
  stop_ = std::move(stop);
  since_ = run.since;
  stopping_ = run.stopping;
  tableValue->setText(run.table);
  fieldValue->setText(run.field);
  operationValue->setText(run.operation);
  answersValue->setText(run.answers.isEmpty() ? QStringLiteral("none")
                                              : QuotedAnswers(run.answers));
  // Said only of a run narrowed to some rows.
  rowsValue->setText(QStringLiteral("where ") + run.rows);
  what_->setRowVisible(rowsValue, !run.rows.isEmpty());
  const RunCounts counts = progress.counts();
  progressBar->setRange(0, int(std::min<qint64>(counts.total, INT_MAX)));
  noteText->setText(run.note);
  noteText->setVisible(!run.note.isEmpty());
  summaryText->clear();
  summaryText->hide();
  rateText->show();
  stopButton->setText(StopCaption);
  stopButton->setAccessibleName(StopCaption);
  stopButton->setEnabled(true);
  clock_.start();
  showProgress();
  show();
  raise();
  activateWindow();
  stopButton->setFocus();
  refresh_.start();
}

void ProgressWindow::showProgress() {
  if (!progress_) return;
  const RunCounts counts = progress_->counts();
  // The total may come after the run began: an exact count replacing an estimate.
  progressBar->setMaximum(int(std::min<qint64>(counts.total, INT_MAX)));
  progressBar->setValue(int(std::min<qint64>(counts.done, INT_MAX)));
  countsText->setText(ProgressText(counts, since_));
  if (stopButton->isEnabled()) rateText->setText(WithUnitsKept(RateText(counts, clock_.elapsed())));
}

void ProgressWindow::runEnded(const RunSummary& summary) {
  refresh_.stop();
  showProgress();
  progress_ = nullptr;
  stop_ = nullptr;
  rateText->hide();
  QString said = SummaryText(summary);
  if (summary.undoable()) {
    said += QStringLiteral("\nRun %1 — Run → History… takes it back.").arg(summary.journalRun);
  }
  summaryText->setText(WithUnitsKept(said));
  summaryText->show();
  stopButton->setText(CloseCaption);
  stopButton->setAccessibleName(CloseCaption);
  stopButton->setEnabled(true);
  stopButton->setFocus();
}

void ProgressWindow::onStopOrClose() {
  if (!isRunning()) {
    hide();
    return;
  }
  stopButton->setEnabled(false);
  rateText->setText(stopping_);
  if (stop_) stop_();
}

// Closing while the run goes on asks it to stop; the summary still follows.
void ProgressWindow::closeEvent(QCloseEvent* event) {
  if (isRunning()) {
    event->ignore();
    onStopOrClose();
    return;
  }
  QDialog::closeEvent(event);
}

void ProgressWindow::reject() {
  if (isRunning()) {
    onStopOrClose();
    return;
  }
  QDialog::reject();
}
