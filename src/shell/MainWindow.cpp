#include "MainWindow.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <stdexcept>

#include "Appearance.h"
#include "ChangePreview.h"
#include "ClusterWindow.h"
#include "Controls.h"
#include "Dialogs.h"
#include "FieldUpdateRun.h"
#include "HistoryWindow.h"
#include "Journal.h"
#include "ListViewWidget.h"
#include "LoginWindow.h"
#include "MySQL.h"
#include "NumberText.h"
#include "OperationCatalogue.h"
#include "PresetAnswers.h"
#include "PreviewWindow.h"
#include "ProgressWindow.h"
#include "ReportingProcedure.h"
#include "RunJournal.h"
#include "ScanWindow.h"
#include "SettingsStore.h"
#include "TableBrowser.h"
#include "UndoRun.h"
#include "ValuesWindow.h"

namespace {

// The location tags that error reports show, as users and support know them.
namespace Tags {
const QString Load = QStringLiteral("Klarifeld2021/08/31.Form2.Form_Load");
const QString OperationChosen = QStringLiteral("Klarifeld2021/08/31.Form2.Combo1_Click");
const QString SwitchDatabase = QStringLiteral("Klarifeld2021/08/31.Form2.PushButton3_Click");
}  // namespace Tags

const QString StopAndCloseQuestion =
    QStringLiteral("A run is under way. Stop it after the current record and close Klarifeld?");

// The settings key of the chosen operation's position.
const QString OperationKey = QStringLiteral("Combo1");
const QString ListHint =
    QStringLiteral("Move | line to right and out of window to reveal full names.");

ListViewWidget* listView(QWidget* window, const char* name, QRect twips) {
  auto* list = Place<ListViewWidget>(window, name, twips, Arial(9, true));
  list->setToolTip(ListHint);
  return list;
}

void addColumn(ListViewWidget* list, const QString& header) {
  list->setHeaderLabels({header});
  list->setAccessibleName(header);
}

void setColumnWidth(ListViewWidget* list, int twips) {
  list->header()->resizeSection(0, Px(twips));
}

}  // namespace

MainWindow::MainWindow(LoginWindow& login, Dialogs& dialogs, const SettingsStore& settings)
    : Window(QSize(Px(7680), Px(6885))), login_(login), dialogs_(dialogs), settings_(settings) {
  setObjectName(QStringLiteral("mainWindow"));
  layOut();
  layOutMenu();
  layOutStatusLine();
  connectHandlers();
}

MainWindow::~MainWindow() = default;

void MainWindow::layOut() {
  setFont(Arial(9, true));
  SetBackColour(*this, Qt::white);
  contents_ = new QWidget(this);
  contents_->setObjectName(QStringLiteral("contents"));
  contents_->setGeometry(rect());
  optionsFrame = new QGroupBox(QStringLiteral("Remove/Replace Options"), contents_);
  optionsFrame->setObjectName(QStringLiteral("optionsFrame"));
  optionsFrame->setGeometry(TwipsRect(120, 5520, 7440, 800));
  optionsFrame->setAccessibleName(optionsFrame->title());
  optionsFrame->setFocusPolicy(Qt::NoFocus);
  SetBackColour(*optionsFrame, Qt::white);
  QPalette caption = optionsFrame->palette();
  caption.setColor(QPalette::WindowText, Qt::black);
  optionsFrame->setPalette(caption);

  operationBox = new QComboBox(optionsFrame);
  operationBox->setObjectName(QStringLiteral("operationBox"));
  operationBox->setGeometry(TwipsRect(240, 300, 6975, 345));
  operationBox->setAccessibleName(optionsFrame->title());
  // The box is as wide as the window; its list shows the longest captions whole, and the
  // chosen one is in the tip.
  connect(operationBox, &QComboBox::currentTextChanged, operationBox, &QWidget::setToolTip);
  startButton = PlacePushButton(contents_, "startButton", QStringLiteral("Start Removing"),
                                TwipsRect(120, 6430, 3720, 405));
  switchDatabaseButton =
      PlacePushButton(contents_, "switchDatabaseButton", QStringLiteral("Switch MySQL Database"),
                      TwipsRect(3960, 6430, 3600, 405));
  tableList = listView(contents_, "tableList", TwipsRect(120, 120, 7440, 2535));
  fieldList = listView(contents_, "fieldList", TwipsRect(120, 2760, 3570, 2670));
  previewList = listView(contents_, "previewList", TwipsRect(3840, 2760, 3720, 2670));
  SetTabOrder({tableList, fieldList, previewList, operationBox, startButton, switchDatabaseButton});
}

// Above the contents, which keep their geometry: the window grows by the menu bar only.
void MainWindow::layOutMenu() {
  menuBar = new QMenuBar(this);
  menuBar->setObjectName(QStringLiteral("menuBar"));
  menuBar->setFont(Arial(9, false));
  QMenu* runMenu = menuBar->addMenu(QStringLiteral("&Run"));
  runMenu->setObjectName(QStringLiteral("runMenu"));
  previewAction = runMenu->addAction(QStringLiteral("&Preview Changes…"));
  previewAction->setObjectName(QStringLiteral("previewAction"));
  previewAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  rowsAction = runMenu->addAction(QStringLiteral("Ro&ws…"));
  rowsAction->setObjectName(QStringLiteral("rowsAction"));
  layOutValuesMenu(runMenu);
  layOutRecipeMenu(runMenu);
  runMenu->addSeparator();
  scanDatabaseAction = runMenu->addAction(QStringLiteral("Scan &Database…"));
  scanDatabaseAction->setObjectName(QStringLiteral("scanDatabaseAction"));
  scanTableAction = runMenu->addAction(QStringLiteral("Scan This &Table…"));
  scanTableAction->setObjectName(QStringLiteral("scanTableAction"));
  runMenu->addSeparator();
  historyAction = runMenu->addAction(QStringLiteral("&History…"));
  historyAction->setObjectName(QStringLiteral("historyAction"));
  historyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
  const int menuHeight = menuBar->sizeHint().height();
  menuBar->setGeometry(0, 0, width(), menuHeight);
  contents_->move(0, menuHeight);
  setFixedSize(width(), height() + menuHeight);
}

// Below the contents, which keep their geometry: one line that says how an action ended
// when no box said it.
void MainWindow::layOutStatusLine() {
  statusLine = ValueLabel(this, "statusLine", QStringLiteral("Status"));
  statusLine->setWordWrap(false);
  const int lineHeight = statusLine->fontMetrics().height() + 6;
  statusLine->setGeometry(8, height(), width() - 16, lineHeight);
  setFixedSize(width(), height() + lineHeight);
}

void MainWindow::connectHandlers() {
  connect(historyAction, &QAction::triggered, this, [this] { onHistoryChosen(); });
  connect(previewAction, &QAction::triggered, this, [this] { onPreviewChosen(); });
  connect(scanDatabaseAction, &QAction::triggered, this, [this] { onScanChosen(false); });
  connect(scanTableAction, &QAction::triggered, this, [this] { onScanChosen(true); });
  // Cancel keeps the condition; OK on an emptied box gives every row back.
  connect(rowsAction, &QAction::triggered, this, [this] {
    const std::optional<QString> typed = dialogs_.editText(
        QStringLiteral(
            "Only the rows where (an SQL condition on the table's columns; empty for every row):"),
        rowCondition_);
    if (typed) setRowCondition(*typed);
  });
  tableList->onPick = [this] { onTableClicked(); };
  fieldList->onPick = [this] { onFieldClicked(); };
  connect(operationBox, &QComboBox::activated, this, [this] { onOperationChosen(); });
  connect(startButton, &QPushButton::clicked, this, [this] { onStartClicked(); });
  connect(switchDatabaseButton, &QPushButton::clicked, this, [this] { onSwitchDatabaseClicked(); });
  hoverSets(optionsFrame, Pointer::Default);
  for (ListViewWidget* list : {tableList, fieldList, previewList}) {
    hoverSets(list, Pointer::Default);
    hoverSets(list->viewport(), Pointer::Default);
  }
  hoverSets(startButton, Pointer::Custom);
  hoverSets(switchDatabaseButton, Pointer::Custom);
}

BrowserLists MainWindow::lists() const {
  return {*tableList, *fieldList, *previewList};
}

void MainWindow::load() {
  ReportingProcedure run(dialogs_, Tags::Load);
  run.step(100, [&] { ResetBackColors(*this); });
  run.step(102, [&] { setWindowIcon(WindowIcon()); });
  if (run.test(106, [] { return FileExists(CursorFilePath()); })) {
    run.step(108, [&] { setCustomCursor(LoadCursorFile(CursorFilePath())); });
  }
  run.step(110, [&] { setWindowTitle(FullDisplayName); });
  for (const CleaningOperation& operation : Catalogue()) {
    if (!operation.listed()) continue;
    run.step(operation.listLine(), [&] { operationBox->addItem(operation.caption.toString()); });
  }
  operationBox->view()->setMinimumWidth(operationBox->view()->sizeHintForColumn(0) + 24);
  run.step(166, [&] {
    operationBox->setCurrentIndex(-1);
    const qint16 index = ToInteger16(settings_.read(OperationKey, QStringLiteral("0")));
    if (index < -1 || index >= operationBox->count()) {
      throw std::invalid_argument("Invalid property value");
    }
    operationBox->setCurrentIndex(index);
  });
  run.step(168, [&] { addColumn(tableList, QStringLiteral("Table(s)")); });
  run.step(170, [&] { setColumnWidth(tableList, 6500); });
  run.step(172, [&] { addColumn(fieldList, QStringLiteral("Field(s)")); });
  run.step(174, [&] { setColumnWidth(fieldList, 3300); });
  run.step(176, [&] { addColumn(previewList, QStringLiteral("First 100 Entries (Preview)")); });
  run.step(178, [&] { setColumnWidth(previewList, 3400); });
}

void MainWindow::relistTables() {
  // No table has an empty name: with nothing chosen, nothing is found again.
  const QString chosen = tableList->selectedIndex() < 0 ? QString() : tableList->selectedText();
  tableList->clear();
  AddMySQLToList1(*tableList, login_.connectionString(), dialogs_);
  if (!tableList->selectEntry(chosen)) {
    fieldList->clear();
    previewList->clear();
  }
}

void MainWindow::onTableClicked() {
  if (isBusy()) return;
  const Busy busy(*this);
  ListTableFields(lists(), login_.connectionString(), *this, dialogs_);
}

void MainWindow::onFieldClicked() {
  if (isBusy()) return;
  const Busy busy(*this);
  PreviewSelectedField(lists(), login_.connectionString(), *this, dialogs_);
}

void MainWindow::onOperationChosen() {
  ReportingProcedure(dialogs_, Tags::OperationChosen).step(100, [&] {
    settings_.write(OperationKey, QString::number(operationBox->currentIndex()));
  });
}

void MainWindow::onStartClicked() {
  if (isBusy()) return;
  const Busy busy(*this);
  Journal* const journal = this->journal();
  if (!journal) return;
  FieldUpdateRun run(lists(), operationBox->currentText(), login_.connectionString(), *this,
                     dialogs_, progressWindow(), *journal);
  run.setRowCondition(rowCondition_);
  stopWork_ = [&run] { run.requestStop(); };
  say({});
  run.run();
  stopWork_ = nullptr;
  say(run.quietEnd());
  if (tableList->selectedIndex() >= 0) scanAgain({tableList->selectedText()});
}

void MainWindow::onPreviewChosen() {
  previewWith(dialogs_);
}

void MainWindow::previewWith(Dialogs& dialogs, const QString& operation) {
  Journal* const journal = this->journal();
  if (isBusy() || !journal) return;
  const Busy busy(*this);
  FieldUpdateRun run(lists(), operation.isEmpty() ? operationBox->currentText() : operation,
                     login_.connectionString(), *this, dialogs, progressWindow(), *journal);
  run.setRowCondition(rowCondition_);
  say({});
  std::unique_ptr<ChangePreview> preview = run.preview();
  say(run.quietEnd());
  if (!preview) return;
  showPreview(new PreviewWindow(this, std::move(preview),
                                [this](const ChangePreview& shown) { applyPreview(shown); }));
}

// In place of the preview shown before.
void MainWindow::showPreview(PreviewWindow* window) {
  if (previewWindow_) previewWindow_->close();
  previewWindow_ = window;
  previewWindow_->show();
  previewWindow_->raise();
  previewWindow_->activateWindow();
}

void MainWindow::busyChanged(bool busy) {
  if (!previewWindow_) return;
  previewWindow_->holdApply(busy ? QStringLiteral("The main window is busy with other work: "
                                                  "Apply once it has ended.")
                                 : QString());
}

PreviewWindow* MainWindow::previewWindow() const {
  return previewWindow_;
}

void MainWindow::applyPreview(const ChangePreview& preview) {
  rewrite([&](RewriteRun& rewrites) { ApplyPreview(preview, rewrites); });
  scanAgain({preview.description().table});
}

void MainWindow::scanAgain(const QStringList& written) {
  if (scanWindow_) scanWindow_->scanAgain(written);
  if (valuesWindow_) {
    for (const QString& table : written) valuesWindow_->countAgain(table);
  }
  if (clusterWindow_) {
    for (const QString& table : written) clusterWindow_->valuesWritten(table);
  }
}

// Previewed changes written in the progress window, stoppable; then the preview list
// shows the values as they stand.
void MainWindow::rewrite(const std::function<void(RewriteRun& rewrites)>& write) {
  Journal* const journal = this->journal();
  if (isBusy() || !journal) return;
  const Busy busy(*this);
  RewriteRun rewrites(*journal, login_.login(), dialogs_, progressWindow());
  stopWork_ = [&rewrites] { rewrites.requestStop(); };
  write(rewrites);
  stopWork_ = nullptr;
  refreshPreviewList();
}

void MainWindow::onScanChosen(bool chosenTableOnly) {
  if (isBusy()) return;
  if (!rowCondition_.isEmpty() && !chosenTableOnly) {
    dialogs_.message(
        QStringLiteral("The row condition is for one table: choose \"Scan This "
                       "Table…\", or empty it (Run → Rows…) to scan the database."));
    return;
  }
  QStringList tables;
  if (chosenTableOnly) {
    if (tableList->selectedIndex() < 0) {
      dialogs_.message(QStringLiteral("Choose a table to scan first."));
      return;
    }
    tables << tableList->selectedText();
  } else {
    tables = tableList->texts();
  }
  if (tables.isEmpty()) {
    dialogs_.message(QStringLiteral("The database has no tables to scan."));
    return;
  }
  const Busy busy(*this);
  if (!scanWindow_) {
    scanWindow_ =
        new ScanWindow(this, dialogs_,
                       {.preview = [this](const ScanFinding& found) { previewFinding(found); },
                        .previewRecipe = [this] { previewRecipe(recipe()); },
                        .saveRecipe = [this] { onSaveRecipeChosen(); },
                        .ticksChanged = [this] { recipeChanged(); }});
  }
  scanWindow_->show();
  scanWindow_->raise();
  scanWindow_->activateWindow();
  scanWindow_->scan(login_.connectionString(), tables, rowCondition_);
}

// As if the user had clicked them; false, once said why, when one is no longer listed.
bool MainWindow::chooseTableAndField(const QString& table, const QString& field) {
  if (!tableList->selectEntry(table)) {
    dialogs_.message(QStringLiteral("The table '%1' is no longer listed.").arg(table));
    return false;
  }
  onTableClicked();
  if (!fieldList->selectEntry(field)) {
    dialogs_.message(
        QStringLiteral("The field '%1' is no longer in the table '%2'.").arg(field, table));
    return false;
  }
  onFieldClicked();
  return true;
}

void MainWindow::previewValueMap(const QString& table, const QString& field, const QString& map) {
  if (isBusy() || !chooseTableAndField(table, field)) return;
  PresetAnswers answers(dialogs_, {map});
  previewWith(answers, FindOperationByName(u"map-values")->caption.toString());
}

void MainWindow::previewFinding(const ScanFinding& finding) {
  if (isBusy() || !chooseTableAndField(finding.table, finding.column)) return;
  const CleaningSuggestion suggestion = SuggestionFor(finding.kind);
  operationBox->setCurrentIndex(FindOperationByName(suggestion.operation)->position);
  onOperationChosen();
  PresetAnswers answers(dialogs_, suggestion.answers);
  previewWith(answers);
}

void MainWindow::setRowCondition(const QString& condition) {
  rowCondition_ = condition.trimmed();
  say(rowCondition_.isEmpty() ? QStringLiteral("Every row.") : QString());
}

// The row condition stays in view while it is set, after whatever else is said.
void MainWindow::say(const QString& text) {
  const QString rows = rowCondition_.isEmpty()
                           ? QString()
                           : QStringLiteral("Only the rows where %1.").arg(rowCondition_);
  statusLine->setText(text.isEmpty() || rows.isEmpty() ? text + rows : text + u' ' + rows);
}

void MainWindow::onHistoryChosen() {
  Journal* const journal = this->journal();
  if (!journal) return;
  if (!historyWindow_) {
    historyWindow_ = new HistoryWindow(
        this, *journal, dialogs_, [this](qint64 run) { undoRun(run); },
        [this] { return isBusy(); });
  }
  historyWindow_->showNewest();
  historyWindow_->show();
  historyWindow_->raise();
  historyWindow_->activateWindow();
}

void MainWindow::undoRun(qint64 run) {
  Journal* const journal = this->journal();
  if (isBusy() || !journal) return;
  const Busy busy(*this);
  UndoRun undo(*journal, run, login_.login(), dialogs_, progressWindow());
  stopWork_ = [&undo] { undo.requestStop(); };
  undo.run();
  stopWork_ = nullptr;
  refreshPreviewList();
  QStringList tables;
  for (const JournalRun& part : journal->parts(run)) tables << part.table;
  if (const std::optional<JournalRun> undone = journal->run(run)) tables << undone->table;
  scanAgain(tables);
}

// The preview shows the values as they now stand, as after a run.
void MainWindow::refreshPreviewList() {
  if (tableList->selectedIndex() >= 0 && fieldList->selectedIndex() >= 0) {
    PreviewSelectedField(lists(), login_.connectionString(), *this, dialogs_);
  }
}

Journal* MainWindow::journal() {
  if (journal_) return journal_.get();
  try {
    journal_ = std::make_unique<Journal>(Journal::defaultPath());
    if (const QString damage = DamagedSpoolsText(*journal_); !damage.isEmpty()) {
      dialogs_.message(damage);
    }
  } catch (const JournalError& failure) {
    dialogs_.message(QStringLiteral("The journal that keeps the old values cannot be opened (%1), "
                                    "so nothing can be written or undone.")
                         .arg(QString::fromUtf8(failure.what())));
  }
  return journal_.get();
}

void MainWindow::onSwitchDatabaseClicked() {
  if (isBusy()) return;
  ReportingProcedure run(dialogs_, Tags::SwitchDatabase);
  run.step(100, [&] { login_.show(); });
  run.step(102, [&] { hide(); });
}

ProgressWindow& MainWindow::progressWindow() {
  if (!progressWindow_) progressWindow_ = new ProgressWindow(this);
  return *progressWindow_;
}

// A run is stopped at a record boundary first, and only when the user agrees.
bool MainWindow::closeWhenIdle() {
  // A scan and a count of values write nothing: they stop at once.
  if (scanWindow_) scanWindow_->stop();
  if (valuesWindow_) valuesWindow_->close();
  if (clusterWindow_) clusterWindow_->close();
  if (!stopWork_) return true;
  if (!dialogs_.askYesNo(StopAndCloseQuestion)) return false;
  stopWork_();
  return true;
}
