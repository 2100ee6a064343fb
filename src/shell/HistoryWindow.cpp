#include "HistoryWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "Controls.h"
#include "Dialogs.h"
#include "Journal.h"
#include "RunJournal.h"
#include "RunProgress.h"
#include "VisibleText.h"

namespace {

enum Column { When, Where, Operation, Written, Ended, Undone, ColumnCount };

QString sizeText(qint64 bytes) {
  return QLocale(QLocale::English).formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat);
}

// "runs 4 to 6", "runs 4 and 5": the numbers that a recipe's steps took, which the list
// leaves out.
QString stepNumbersText(const std::vector<JournalRun>& parts) {
  if (parts.size() == 1) return QStringLiteral("run %1").arg(parts.front().id);
  if (parts.size() > 2 && parts.back().id - parts.front().id + 1 == qint64(parts.size())) {
    return QStringLiteral("runs %1 to %2").arg(parts.front().id).arg(parts.back().id);
  }
  QStringList numbers;
  for (const JournalRun& part : parts) numbers << QString::number(part.id);
  const QString last = numbers.takeLast();
  return QStringLiteral("runs ") + numbers.join(QStringLiteral(", ")) + QStringLiteral(" and ") +
         last;
}

QTreeWidgetItem* itemOf(const JournalRun& run, const std::vector<JournalRun>& parts) {
  auto* item = new QTreeWidgetItem;
  item->setData(When, Qt::UserRole, run.id);
  item->setText(When, QStringLiteral("%1  %2").arg(run.id).arg(
                          run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
  item->setText(Where, WithControlMarks(JournalRunWhere(run)));
  QString operation = JournalRunOperation(run);
  if (!parts.empty()) operation += QStringLiteral(" (its steps: %1)").arg(stepNumbersText(parts));
  item->setText(Operation, operation);
  item->setToolTip(Operation, item->text(Operation));  // the column may show it cut short
  item->setText(Written, JournalWrittenText(run));
  item->setText(Ended, JournalEndText(run.end));
  item->setText(Undone, JournalUndoneText(run));
  if (run.damaged) {
    item->setToolTip(Undone, QStringLiteral("Damage in the journal lost some of the run's old "
                                            "values, so their rows cannot be undone."));
  }
  return item;
}

// What the undo takes back, and where, before the user says yes.
QString undoQuestion(const JournalRun& run) {
  return QStringLiteral(
             "Undo run %1?\n%2\non %3: %4 written.\nEach old value goes back where "
             "the run's value still stands; values changed since are left.")
      .arg(run.id)
      .arg(JournalRunOperation(run), WithControlMarks(JournalRunWhere(run)),
           CountedText(run.written + run.inDoubt, QStringLiteral("row"), QStringLiteral("rows")));
}

}  // namespace

HistoryWindow::HistoryWindow(QWidget* mainWindow, Journal& journal, Dialogs& dialogs,
                             std::function<void(qint64)> undo, std::function<bool()> busy)
    : QDialog(mainWindow),
      journal_(journal),
      dialogs_(dialogs),
      undo_(std::move(undo)),
      busy_(std::move(busy)) {
  setObjectName(QStringLiteral("historyWindow"));
  setWindowTitle(QStringLiteral("Klarifeld: History"));
  setAccessibleName(windowTitle());
  setFont(Arial(9, false));
  layOut();
  connect(undoButton, &QPushButton::clicked, this, [this] { onUndoClicked(); });
  connect(deleteButton, &QPushButton::clicked, this, [this] { onDeleteClicked(); });
  connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
  connect(runList, &QTreeWidget::itemSelectionChanged, this, [this] { enableButtons(); });
  refresh();
}

void HistoryWindow::layOut() {
  runList = new QTreeWidget(this);
  runList->setObjectName(QStringLiteral("runList"));
  runList->setAccessibleName(QStringLiteral("Runs, newest first"));
  runList->setRootIsDecorated(false);
  runList->setUniformRowHeights(true);
  runList->setColumnCount(ColumnCount);
  runList->setHeaderLabels({QStringLiteral("Run and time"), QStringLiteral("Database.table.field"),
                            QStringLiteral("Operation and answers"), QStringLiteral("Written"),
                            QStringLiteral("How it ended"), QStringLiteral("Undone")});
  runList->header()->setStretchLastSection(false);
  runList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  // The long captions take what is left, so that how each run ended stays in view.
  runList->header()->setSectionResizeMode(Operation, QHeaderView::Stretch);
  keptText = new QLabel(this);
  keptText->setObjectName(QStringLiteral("keptText"));
  keptText->setAccessibleDescription(QStringLiteral("What the journal keeps"));
  keptText->setWordWrap(true);

  undoButton = new QPushButton(QStringLiteral("&Undo Run"), this);
  deleteButton = new QPushButton(QStringLiteral("&Delete"), this);
  closeButton = new QPushButton(QStringLiteral("Close"), this);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {undoButton, deleteButton, closeButton}) {
    button->setAccessibleName(QString(button->text()).remove(u'&'));
    button->setAutoDefault(false);
  }
  undoButton->setObjectName(QStringLiteral("undoButton"));
  deleteButton->setObjectName(QStringLiteral("deleteButton"));
  closeButton->setObjectName(QStringLiteral("closeButton"));
  buttons->addWidget(undoButton);
  buttons->addWidget(deleteButton);
  buttons->addStretch();
  buttons->addWidget(closeButton);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(runList);
  layout->addWidget(keptText);
  layout->addLayout(buttons);
  resize(900, 420);
}

void HistoryWindow::refresh() {
  const qint64 chosen = chosenRun();
  runList->clear();
  std::vector<JournalRun> runs;
  try {
    runs = journal_.runs();
  } catch (const JournalError& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
  }
  for (const JournalRun& run : runs) {
    QTreeWidgetItem* item = itemOf(run, journal_.parts(run.id));
    runList->addTopLevelItem(item);
    if (run.id == chosen) runList->setCurrentItem(item);
  }
  if (!runList->currentItem() && runList->topLevelItemCount() > 0) {
    runList->setCurrentItem(runList->topLevelItem(0));
  }
  keptText->setText(QStringLiteral("The journal holds the old value of every record written, "
                                   "in %1 on disk (%2). It keeps runs for %3 days, and at most "
                                   "%4 in all: older runs go first. A number missing from the "
                                   "list is a step of a recipe's run, or a run deleted or no "
                                   "longer kept.")
                        .arg(sizeText(journal_.sizeOnDisk()), journal_.path())
                        .arg(journal_.limits().keepDays)
                        .arg(sizeText(journal_.limits().keepBytes)));
  enableButtons();
}

void HistoryWindow::showNewest() {
  runList->setCurrentItem(nullptr);
  refresh();
}

qint64 HistoryWindow::chosenRun() const {
  const QTreeWidgetItem* item = runList->currentItem();
  return item ? item->data(When, Qt::UserRole).toLongLong() : 0;
}

void HistoryWindow::enableButtons() {
  undoButton->setEnabled(chosenRun() != 0);
  deleteButton->setEnabled(chosenRun() != 0);
}

void HistoryWindow::onUndoClicked() {
  const qint64 run = chosenRun();
  if (!run || busy_()) return;
  const std::optional<JournalRun> chosen = journal_.run(run);
  if (!chosen || !dialogs_.askYesNo(undoQuestion(*chosen))) return;
  undo_(run);
  refresh();
}

void HistoryWindow::onDeleteClicked() {
  const qint64 run = chosenRun();
  if (!run || busy_()) return;
  if (!dialogs_.askYesNo(QStringLiteral("Delete run %1 from the journal? Its old values go "
                                        "with it, and it can no longer be undone.")
                             .arg(run))) {
    return;
  }
  try {
    journal_.deleteRun(run);
  } catch (const JournalError& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
  }
  refresh();
}
