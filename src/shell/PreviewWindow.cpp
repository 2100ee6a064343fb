#include "PreviewWindow.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "ChangeListModel.h"
#include "ChangePreview.h"
#include "Controls.h"
#include "RecipeRun.h"
#include "VisibleText.h"

namespace {

constexpr int FilterDelayMilliseconds = 250;

QString describedRun(const ChangePreview& preview) {
  const RunDescription& run = preview.description();
  return run.table + u'.' + run.field + QStringLiteral(": ") + run.operation +
         (run.answers.isEmpty() ? QString() : u' ' + QuotedAnswers(run.answers)) +
         (run.rows.isEmpty() ? QString() : QStringLiteral(", on the rows where ") + run.rows);
}

std::vector<ChangePreview*> partsOf(const RecipePreview& recipe) {
  std::vector<ChangePreview*> parts;
  for (const auto& field : recipe.fields) parts.push_back(field.get());
  return parts;
}

}  // namespace

PreviewWindow::PreviewWindow(QWidget* mainWindow, std::unique_ptr<ChangePreview> preview,
                             std::function<void(const ChangePreview&)> apply)
    : PreviewWindow(mainWindow, {preview.get()},
                    [this, apply = std::move(apply)] { apply(*preview_); }) {
  preview_ = std::move(preview);
  layOut(describedRun(*preview_), PreviewCountsText(*preview_));
}

PreviewWindow::PreviewWindow(QWidget* mainWindow, std::unique_ptr<RecipePreview> recipe,
                             std::function<void(const RecipePreview&)> apply)
    : PreviewWindow(mainWindow, partsOf(*recipe),
                    [this, apply = std::move(apply)] { apply(*recipe_); }) {
  recipe_ = std::move(recipe);
  QStringList counts = StepCountsTexts(*recipe_);
  for (const ChangePreview* part : parts_) {
    counts << part->description().table + u'.' + part->description().field + QStringLiteral(": ") +
                  PreviewCountsText(*part);
  }
  layOut(RecipeTitle(recipe_->recipe), counts.join(u'\n'));
}

PreviewWindow::PreviewWindow(QWidget* mainWindow, std::vector<ChangePreview*> parts,
                             std::function<void()> apply)
    : QDialog(mainWindow),
      parts_(std::move(parts)),
      model_(std::make_unique<ChangeListModel>(parts_)),
      apply_(std::move(apply)) {
  setObjectName(QStringLiteral("previewWindow"));
  setWindowTitle(QStringLiteral("Klarifeld: Preview Changes"));
  setAccessibleName(windowTitle());
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(Arial(9, false));
  filterDelay_.setSingleShot(true);
  filterDelay_.setInterval(FilterDelayMilliseconds);
  connect(&filterDelay_, &QTimer::timeout, this, [this] { filter(); });
}

PreviewWindow::~PreviewWindow() = default;

void PreviewWindow::layOut(const QString& what, const QString& counts) {
  whatText = ValueLabel(this, "whatText", QStringLiteral("What would run"));
  whatText->setText(what);
  countsText = ValueLabel(this, "countsText", QStringLiteral("Counts"));
  countsText->setText(counts);
  legendText = ValueLabel(this, "legendText", QStringLiteral("Marks of invisible characters"));
  legendText->setText(QStringLiteral("Marks: ") + VisibleMarksLegend +
                      QStringLiteral(". What changes is highlighted."));

  filterBox = new QLineEdit(this);
  filterBox->setObjectName(QStringLiteral("filterBox"));
  filterBox->setAccessibleName(QStringLiteral("Show only values containing"));
  filterBox->setPlaceholderText(QStringLiteral("Show only values containing…"));
  filterBox->setClearButtonEnabled(true);
  // Qt gives the clear button no name: a screen reader would say "button" and no more.
  if (auto* clear = filterBox->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction"))) {
    clear->setText(QStringLiteral("Clear the filter"));
    clear->setToolTip(clear->text());
  }
  shownText = ValueLabel(this, "shownText", QStringLiteral("Changes shown"));
  shownText->setWordWrap(false);
  shownText->hide();

  layOutChangeList();
  OnSpace(changeList, [this] { tickChosen(); });
  untickShownButton = new QPushButton(QStringLiteral("&Untick All Shown"), this);
  untickShownButton->setObjectName(QStringLiteral("untickShownButton"));
  tickShownButton = new QPushButton(QStringLiteral("T&ick All Shown"), this);
  tickShownButton->setObjectName(QStringLiteral("tickShownButton"));
  applyButton = new QPushButton(this);
  applyButton->setObjectName(QStringLiteral("applyButton"));
  closeButton = new QPushButton(QStringLiteral("Close"), this);
  closeButton->setObjectName(QStringLiteral("closeButton"));
  closeButton->setAccessibleName(QStringLiteral("Close"));
  closeButton->setDefault(true);
  for (QPushButton* button : {untickShownButton, tickShownButton}) button->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(untickShownButton);
  buttons->addWidget(tickShownButton);
  buttons->addStretch();
  buttons->addWidget(applyButton);
  buttons->addWidget(closeButton);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(whatText);
  layout->addWidget(countsText);
  layout->addWidget(legendText);
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(filterBox, 1);
  filterRow->addWidget(shownText);
  layout->addLayout(filterRow);
  layout->addWidget(changeList, 1);
  layout->addLayout(buttons);
  resize(860, 520);
  connect(filterBox, &QLineEdit::textChanged, this, [this] { filterDelay_.start(); });
  connect(applyButton, &QPushButton::clicked, this, [this] { onApplyClicked(); });
  connect(untickShownButton, &QPushButton::clicked, this, [this] { model_->tickShown(false); });
  connect(tickShownButton, &QPushButton::clicked, this, [this] { model_->tickShown(true); });
  connect(model_.get(), &QAbstractItemModel::dataChanged, this, [this] { followTicks(); });
  followTicks();
  connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
}

// The changes, a row each, in rows of one height: the view never asks a million rows for
// their size.
void PreviewWindow::layOutChangeList() {
  changeList = new QTableView(this);
  changeList->setObjectName(QStringLiteral("changeList"));
  changeList->setAccessibleName(QStringLiteral("Changes"));
  changeList->setModel(model_.get());
  changeList->setItemDelegate(new ChangeDelegate(changeList));
  changeList->setSelectionBehavior(QAbstractItemView::SelectRows);
  // Tab goes on to the buttons; the arrows move within the list.
  changeList->setTabKeyNavigation(false);
  changeList->setWordWrap(false);
  changeList->verticalHeader()->hide();
  changeList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  changeList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  changeList->horizontalHeader()->setStretchLastSection(true);
  changeList->setColumnWidth(ChangeListModel::Key, 110);
  changeList->setColumnWidth(ChangeListModel::Before, 300);
  changeList->setColumnWidth(ChangeListModel::After, 300);
  if (parts_.size() > 1) {
    changeList->horizontalHeader()->moveSection(ChangeListModel::Field, 0);
    changeList->setColumnWidth(ChangeListModel::Field, 140);
  }
}

void PreviewWindow::filter() {
  model_->setFilter(filterBox->text());
  const bool filtered = !filterBox->text().isEmpty();
  shownText->setText(QStringLiteral("%1 of %2 shown")
                         .arg(CountText(model_->rowCount()), CountText(model_->changes())));
  shownText->setVisible(filtered);
}

void PreviewWindow::holdApply(const QString& reason) {
  heldBecause_ = reason;
  followTicks();
}

// The count says what Apply writes: every ticked change, the hidden ones too.
void PreviewWindow::followTicks() {
  const qsizetype changes = model_->changes(), ticked = model_->tickedChanges();
  applyButton->setText(
      ticked < changes
          ? QStringLiteral("&Apply %1 of %2 Changes").arg(CountText(ticked), CountText(changes))
      : changes == 1 ? QStringLiteral("&Apply 1 Change")
                     : QStringLiteral("&Apply All %1 Changes").arg(CountText(changes)));
  applyButton->setEnabled(heldBecause_.isEmpty() && ticked > 0);
  applyButton->setToolTip(heldBecause_);
}

// Space ticks or unticks the chosen changes, as the current one turns.
void PreviewWindow::tickChosen() {
  const QModelIndex current = changeList->currentIndex();
  if (!current.isValid()) return;
  QList<int> rows;
  for (const QModelIndex& chosen : changeList->selectionModel()->selectedRows()) {
    rows << chosen.row();
  }
  if (!rows.contains(current.row())) rows << current.row();
  model_->tick(rows, !model_->ticked(current.row()));
}

void PreviewWindow::onApplyClicked() {
  applyButton->setEnabled(false);
  hide();
  apply_();
  close();
}
