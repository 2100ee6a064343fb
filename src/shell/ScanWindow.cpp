#include "ScanWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "Connection.h"
#include "Controls.h"
#include "DbError.h"
#include "Dialogs.h"
#include "Engine.h"
#include "RowCondition.h"
#include "RunProgress.h"
#include "VisibleText.h"
#include "WorkerThread.h"

namespace {

enum Column { Table, ColumnName, Kind, Rows, Share, Operation, ColumnCount };

// Rows and shares sort as numbers, the rest as text.
class FindingItem : public QTreeWidgetItem {
 public:
  bool operator<(const QTreeWidgetItem& other) const override {
    const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    if (column == Rows || column == Share) {
      return data(column, Qt::UserRole).toDouble() < other.data(column, Qt::UserRole).toDouble();
    }
    return QTreeWidgetItem::operator<(other);
  }
};

// The operation as the main window lists it, with its answers.
QString operationText(const CleaningSuggestion& suggestion) {
  const CleaningOperation* operation = FindOperationByName(suggestion.operation);
  QString text = operation ? operation->caption.toString() : suggestion.operation;
  for (const QString& answer : suggestion.answers) {
    text += QStringLiteral(" \"%1\"").arg(WithVisibleMarks(answer));
  }
  return text;
}

// A screen reader hears whether a finding is ticked, and how to tick it: its box alone
// does not tell it, unticked.
void sayTick(QTreeWidgetItem& item) {
  item.setData(Table, Qt::AccessibleDescriptionRole,
               item.checkState(Table) == Qt::Checked
                   ? QStringLiteral("ticked: a step of the recipe")
                   : QStringLiteral("not ticked: Space ticks it"));
}

// What a finding is, so that its tick outlives its row when the scan counts again.
QString findingKey(const QTreeWidgetItem& item) {
  return item.text(Table) + u'\0' + item.text(ColumnName) + u'\0' +
         item.data(Kind, Qt::UserRole).toString();
}

}  // namespace

ScanWindow::ScanWindow(QWidget* mainWindow, Dialogs& dialogs, ScanActions actions)
    : QDialog(mainWindow), dialogs_(dialogs), actions_(std::move(actions)) {
  setObjectName(QStringLiteral("scanWindow"));
  setWindowTitle(QStringLiteral("Klarifeld: Scan"));
  setAccessibleName(windowTitle());
  setFont(Arial(9, false));
  layOut();
  connect(stopButton, &QPushButton::clicked, this, [this] { stop(); });
  connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
  connect(previewButton, &QPushButton::clicked, this, [this] { previewChosen(); });
  connect(copyButton, &QPushButton::clicked, this,
          [this] { QApplication::clipboard()->setText(chosenAsText()); });
  connect(new QShortcut(QKeySequence::Copy, findingList), &QShortcut::activated, copyButton,
          &QPushButton::click);
  // Enter, or a double-click.
  connect(findingList, &QTreeWidget::itemActivated, this, [this] { previewChosen(); });
  connect(findingList, &QTreeWidget::itemSelectionChanged, this, [this] { followChoice(); });
  // A tick changes what the recipe's buttons act on, not the examples shown.
  connect(findingList, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (column != Table) return;
    const QSignalBlocker quiet(findingList);  // the description is no tick
    sayTick(*item);
    followTicks();
  });
  connect(previewAllButton, &QPushButton::clicked, this, [this] {
    if (!scanning_) actions_.previewRecipe();
  });
  connect(saveRecipeButton, &QPushButton::clicked, this, [this] { actions_.saveRecipe(); });
  OnSpace(findingList, [this] { tickChosen(); });
  showRecipeSteps(0);
}

// The buttons and examples of the findings chosen; a scan under way holds them back.
void ScanWindow::followChoice() {
  previewButton->setEnabled(!scanning_ && chosenFinding());
  copyButton->setEnabled(!findingList->selectedItems().isEmpty());
  followTicks();
  showExamples();
}

// The main window counts the recipe again, and tells it back (showRecipeSteps).
void ScanWindow::followTicks() {
  if (actions_.ticksChanged) actions_.ticksChanged();
  showRecipeSteps(recipeSteps_);
}

void ScanWindow::showRecipeSteps(qsizetype steps) {
  recipeSteps_ = steps;
  const qsizetype ticked = tickedRecipe().steps.size();
  tickedText->setText(
      steps == 0 ? QStringLiteral("Nothing ticked: Space ticks a finding, and its operation "
                                  "becomes a step of the recipe.")
                 : QStringLiteral("%1 ticked; the recipe has %2.")
                       .arg(ticked)
                       .arg(CountedText(steps, QStringLiteral("step"), QStringLiteral("steps"))));
  previewAllButton->setEnabled(!scanning_ && steps > 0);
  saveRecipeButton->setEnabled(steps > 0);
  // Said on the button, greyed or not, and to a screen reader.
  const QString why = steps == 0 ? QStringLiteral(
                                       "Tick findings with Space first: their operations make the "
                                       "recipe that this previews as one run.")
                      : scanning_ ? QStringLiteral("Ready once the scan has ended.")
                                  : QStringLiteral(
                                        "Every step of the recipe, the ticked findings with them, "
                                        "as one run.");
  previewAllButton->setToolTip(why);
  previewAllButton->setAccessibleDescription(why);
}

// Space ticks the chosen findings, as the current one turns.
void ScanWindow::tickChosen() {
  QTreeWidgetItem* current = findingList->currentItem();
  if (!current) return;
  const Qt::CheckState state =
      current->checkState(Table) == Qt::Checked ? Qt::Unchecked : Qt::Checked;
  QList<QTreeWidgetItem*> items = findingList->selectedItems();
  if (!items.contains(current)) items << current;
  for (QTreeWidgetItem* item : items) item->setCheckState(Table, state);
}

void ScanWindow::untickAll() {
  for (int i = 0; i < findingList->topLevelItemCount(); ++i) {
    findingList->topLevelItem(i)->setCheckState(Table, Qt::Unchecked);
  }
}

ScanWindow::~ScanWindow() = default;

void ScanWindow::layOut() {
  progressText = ValueLabel(this, "progressText", QStringLiteral("Progress"));
  progressBar = new QProgressBar(this);
  progressBar->setObjectName(QStringLiteral("progressBar"));
  progressBar->setAccessibleName(QStringLiteral("Tables scanned"));
  stopButton = new QPushButton(QStringLiteral("&Stop"), this);
  stopButton->setObjectName(QStringLiteral("stopButton"));

  findingList = new QTreeWidget(this);
  findingList->setObjectName(QStringLiteral("findingList"));
  findingList->setAccessibleName(QStringLiteral("Findings"));
  findingList->setRootIsDecorated(false);
  findingList->setUniformRowHeights(true);
  findingList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  findingList->setSelectionBehavior(QAbstractItemView::SelectRows);
  findingList->setColumnCount(ColumnCount);
  findingList->setHeaderLabels({QStringLiteral("Table"), QStringLiteral("Column"),
                                QStringLiteral("Kind"), QStringLiteral("Rows"),
                                QStringLiteral("Share"), QStringLiteral("Suggested operation")});
  findingList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  findingList->header()->setStretchLastSection(true);
  findingList->setSortingEnabled(true);
  findingList->sortByColumn(Rows, Qt::DescendingOrder);
  tickedText = ValueLabel(this, "tickedText", QStringLiteral("Ticked"));
  examplesText = ValueLabel(this, "examplesText", QStringLiteral("Examples"));
  examplesText->setMinimumHeight(examplesText->fontMetrics().height() * 4);
  examplesText->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  previewButton = new QPushButton(QStringLiteral("&Preview Changes…"), this);
  previewButton->setObjectName(QStringLiteral("previewButton"));
  previewButton->setEnabled(false);
  copyButton = new QPushButton(QStringLiteral("&Copy"), this);
  copyButton->setObjectName(QStringLiteral("copyButton"));
  copyButton->setEnabled(false);
  previewAllButton = new QPushButton(QStringLiteral("Preview &All…"), this);
  previewAllButton->setObjectName(QStringLiteral("previewAllButton"));
  previewAllButton->setToolTip(QStringLiteral("Every ticked finding's operation, as one run"));
  previewAllButton->setEnabled(false);
  saveRecipeButton = new QPushButton(QStringLiteral("Save &Recipe…"), this);
  saveRecipeButton->setObjectName(QStringLiteral("saveRecipeButton"));
  saveRecipeButton->setEnabled(false);
  closeButton = new QPushButton(QStringLiteral("Close"), this);
  closeButton->setObjectName(QStringLiteral("closeButton"));

  auto* progress = new QHBoxLayout;
  progress->addWidget(progressBar, 1);
  progress->addWidget(stopButton);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(previewButton);
  buttons->addWidget(copyButton);
  buttons->addWidget(previewAllButton);
  buttons->addWidget(saveRecipeButton);
  buttons->addStretch(1);
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(progressText);
  layout->addLayout(progress);
  layout->addWidget(findingList, 1);
  layout->addWidget(tickedText);
  layout->addWidget(examplesText);
  layout->addLayout(buttons);
  resize(860, 520);
  setTabOrder(stopButton, findingList);
  setTabOrder(findingList, previewButton);
  setTabOrder(previewButton, copyButton);
  setTabOrder(copyButton, previewAllButton);
  setTabOrder(previewAllButton, saveRecipeButton);
  setTabOrder(saveRecipeButton, closeButton);
}

void ScanWindow::scan(const QString& connectionString, const QStringList& listed,
                      const QString& rows) {
  if (scanning_ || fetchingExamples_) return;  // the connection is in use
  rows_ = rows;
  findingList->clear();
  examplesText->clear();
  columnsScanned_ = 0;
  stopped_ = false;
  scanning_ = true;
  stopButton->setEnabled(true);
  stopButton->setFocus();
  progressBar->setValue(0);
  followTicks();
  const QStringList tables = connectForTables(connectionString, listed);
  const qint64 sampleRows = stopped_ ? 0 : sampleRowsFor(estimatedRows_);
  sampleRows_ = sampleRows;
  progressBar->setRange(0, int(std::max<qsizetype>(tables.size(), 1)));
  const TablesScanned ended = ScanTables(
      *connection_, tables, {sampleRows, rows_},
      [&](qsizetype index, const QString& table) {
        if (stopped_) return false;
        progressText->setText(QStringLiteral("Scanning table %1 of %2: %3…")
                                  .arg(index + 1)
                                  .arg(tables.size())
                                  .arg(table));
        return true;
      },
      [&](const QString&, std::vector<ColumnFindings>&& found) {
        columnsScanned_ += qint64(found.size());
        list(found);
        progressBar->setValue(progressBar->value() + 1);
      });
  if (ended.failure) {
    if (!stopped_) {
      dialogs_.message(QStringLiteral("The table '%1' could not be scanned: %2")
                           .arg(tables[ended.scanned], QString::fromUtf8(ended.failure->what())));
    }
    stopped_ = true;
  }
  const qsizetype scanned = ended.scanned;
  scanning_ = false;
  stopButton->setEnabled(false);
  followTicks();
  sayHowItEnded(scanned, tables.size(), sampleRows);
  findingList->setFocus();
  if (findingList->topLevelItemCount() > 0 && findingList->selectedItems().isEmpty()) {
    findingList->setCurrentItem(findingList->topLevelItem(0), 0,
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  } else {
    followChoice();  // chosen while the scan went on
  }
}

// The listed tables but views, which hold no rows of their own; none, once the user is
// told why, when the server cannot be reached.
QStringList ScanWindow::connectForTables(const QString& connectionString,
                                         const QStringList& listed) {
  connection_ = std::make_unique<Connection>();
  connection_->CommandTimeout = 0;  // a big table takes its time; Stop ends it
  progressText->setText(QStringLiteral("Connecting…"));
  QStringList tables;
  const QScopedValueRollback connecting(connecting_, true);
  try {
    RunWhileServingEvents([&] {
      connection_->Open(connectionString);
      const Engine& engine = EngineOf(*connection_);
      const QStringList base = engine.baseTables(*connection_);
      for (const QString& table : listed) {
        if (base.contains(table)) tables << table;
      }
      estimatedRows_ = engine.estimatedRows(*connection_, tables);
    });
  } catch (const DbError& failure) {
    dialogs_.message(QStringLiteral("The database could not be scanned: %1")
                         .arg(QString::fromUtf8(failure.what())));
    stopped_ = true;
    return {};
  }
  return tables;
}

void ScanWindow::sayHowItEnded(qsizetype scanned, qsizetype tables, qint64 sampleRows) {
  if (tables == 0 && !stopped_) {
    progressText->setText(QStringLiteral("No tables to scan: views are not scanned."));
    return;
  }
  const QString sample = sampleRows > 0
                             ? QStringLiteral(" (a sample: the first %1 rows of each table)")
                                   .arg(CountText(sampleRows))
                             : QString();
  const QString what =
      QStringLiteral("%1 in %2 of %3%4.")
          .arg(CountedText(findingList->topLevelItemCount(), QStringLiteral("finding"),
                           QStringLiteral("findings")))
          .arg(CountedText(columnsScanned_, QStringLiteral("text column"),
                           QStringLiteral("text columns")))
          .arg(CountedText(scanned, QStringLiteral("table"), QStringLiteral("tables")))
          .arg(sample + (rows_.isEmpty() ? QString() : QStringLiteral(", ") + RowsText(rows_)));
  progressText->setText(
      scanned < tables
          ? QStringLiteral("Stopped after %1 of %2 tables: %3").arg(scanned).arg(tables).arg(what)
          : what);
}

// Above some ten million rows a full scan takes minutes: the user may scan a sample instead.
qint64 ScanWindow::sampleRowsFor(qint64 estimatedRows) {
  if (estimatedRows <= LargeTotal) return 0;
  const bool sample = dialogs_.askYesNo(
      QStringLiteral("These tables hold about %1 rows, which take a while to scan. Scan only "
                     "the first %2 rows of each table?")
          .arg(CountText(estimatedRows), CountText(SampleRows)));
  return sample ? SampleRows : 0;
}

void ScanWindow::stop() {
  if (stopped_.exchange(true)) return;
  // While the worker opens it, the connection is the worker's alone; the scan stops
  // before its first table then.
  if (connection_ && !connecting_) connection_->Cancel();
}

void ScanWindow::scanAgain(const QStringList& written) {
  if (scanning_ || fetchingExamples_ || !connection_ || !connection_->isOpen() || !isVisible()) {
    return;
  }
  QStringList tables, ticked;
  for (int i = 0; i < findingList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem& item = *findingList->topLevelItem(i);
    if (written.contains(item.text(Table)) && !tables.contains(item.text(Table))) {
      tables << item.text(Table);
    }
    if (item.checkState(Table) == Qt::Checked) ticked << findingKey(item);
  }
  if (tables.isEmpty()) return;
  {
    const QScopedValueRollback scanning(scanning_, true);
    const TablesScanned ended = ScanTables(
        *connection_, tables, {sampleRows_, rows_},
        [&](qsizetype, const QString& table) {
          progressText->setText(QStringLiteral("Scanning %1 again after writing it…").arg(table));
          return true;
        },
        [&](const QString& table, std::vector<ColumnFindings>&& found) {
          for (int i = findingList->topLevelItemCount() - 1; i >= 0; --i) {
            if (findingList->topLevelItem(i)->text(Table) == table)
              delete findingList->takeTopLevelItem(i);
          }
          list(found, ticked);
        });
    if (ended.failure) {
      progressText->setText(
          QStringLiteral("The table '%1' could not be scanned again: %2")
              .arg(tables[ended.scanned], QString::fromUtf8(ended.failure->what())));
      return;
    }
  }
  progressText->setText(
      QStringLiteral("Scanned again after writing: %1. %2 in all.")
          .arg(tables.join(QStringLiteral(", ")),
               CountedText(findingList->topLevelItemCount(), QStringLiteral("finding"),
                           QStringLiteral("findings"))));
  followChoice();
}

void ScanWindow::list(const std::vector<ColumnFindings>& findings, const QStringList& ticked) {
  // One count of the recipe once listed, not one for each row's every cell.
  const QSignalBlocker quiet(findingList);
  for (const ColumnFindings& found : findings) {
    for (DirtKind kind : DirtKinds) {
      const qint64 count = found.counts[size_t(kind)];
      if (count == 0) continue;
      const double share = 100.0 * double(count) / double(std::max<qint64>(found.rows, 1));
      auto* item = new FindingItem;
      item->setText(Table, found.table);
      item->setText(ColumnName, found.column);
      item->setText(Kind, DirtKindCaption(kind));
      item->setData(Kind, Qt::UserRole, int(kind));
      item->setText(Rows, CountText(count));
      item->setData(Rows, Qt::UserRole, double(count));
      item->setTextAlignment(Rows, Qt::AlignRight | Qt::AlignVCenter);
      item->setText(Share, QStringLiteral("%1 %").arg(share, 0, 'f', 1));
      item->setData(Share, Qt::UserRole, share);
      item->setTextAlignment(Share, Qt::AlignRight | Qt::AlignVCenter);
      item->setText(Operation, operationText(SuggestionFor(kind)));
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(Table, ticked.contains(findingKey(*item)) ? Qt::Checked : Qt::Unchecked);
      sayTick(*item);
      findingList->addTopLevelItem(item);
    }
  }
  followTicks();
}

std::optional<ScanFinding> ScanWindow::chosenFinding() const {
  const QTreeWidgetItem* item = findingList->currentItem();
  if (!item || !item->isSelected()) return std::nullopt;
  return ScanFinding{item->text(Table), item->text(ColumnName),
                     DirtKind(item->data(Kind, Qt::UserRole).toInt())};
}

// Up to three values of the chosen finding, fetched once the scan has ended, on a thread
// of their own: a rare kind in a big table takes a while to find. Chosen again meanwhile,
// the fetch under way looks again when it ends.
void ScanWindow::showExamples() {
  examplesText->clear();
  if (fetchingExamples_) {
    examplesWanted_ = true;
    return;
  }
  fetchingExamples_ = true;
  do {
    examplesWanted_ = false;
    const std::optional<ScanFinding> finding = chosenFinding();
    if (scanning_ || !finding || !connection_ || !connection_->isOpen()) break;
    std::vector<DirtExample> examples;
    QString text;
    try {
      RunWhileServingEvents([&] {
        examples =
            DirtExamples(*connection_, finding->table, finding->column, finding->kind, 3, rows_);
      });
      QStringList lines;
      for (const DirtExample& example : examples) {
        lines << (example.key.isEmpty() ? QString() : example.key + QStringLiteral(": ")) +
                     WithVisibleMarks(example.value);
      }
      text = QStringLiteral("Examples:\n") + lines.join(u'\n');
    } catch (const DbError& failure) {
      text = QStringLiteral("No examples: %1").arg(QString::fromUtf8(failure.what()));
    }
    if (!examplesWanted_) examplesText->setText(text);
  } while (examplesWanted_);
  fetchingExamples_ = false;
}

void ScanWindow::previewChosen() {
  if (scanning_) return;
  if (const std::optional<ScanFinding> finding = chosenFinding()) actions_.preview(*finding);
}

Recipe ScanWindow::tickedRecipe() const {
  Recipe recipe;
  for (int i = 0; i < findingList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = findingList->topLevelItem(i);
    if (item->checkState(Table) != Qt::Checked) continue;
    const CleaningSuggestion suggestion =
        SuggestionFor(DirtKind(item->data(Kind, Qt::UserRole).toInt()));
    recipe.steps.push_back({item->text(Table),
                            item->text(ColumnName),
                            FindOperationByName(suggestion.operation),
                            {suggestion.answers.value(0), suggestion.answers.value(1)},
                            rows_});
  }
  return recipe;
}

QString ScanWindow::chosenAsText() const {
  QStringList lines{QStringLiteral("table\tcolumn\tkind\trows\tshare\tsuggested operation")};
  for (int i = 0; i < findingList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = findingList->topLevelItem(i);
    if (!item->isSelected()) continue;
    QStringList cells;
    for (int column = 0; column < ColumnCount; ++column) cells << item->text(column);
    lines << cells.join(u'\t');
  }
  return lines.join(u'\n') + u'\n';
}

// Closing stops a scan under way; the window only hides, and can be opened again.
void ScanWindow::closeEvent(QCloseEvent* event) {
  stop();
  event->accept();
}
