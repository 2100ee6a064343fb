#include "PreviewWindow.h"

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
#include "VisibleText.h"

namespace {

constexpr int FilterDelayMilliseconds = 250;

QString describedRun(const ChangePreview& preview) {
  const RunDescription& run = preview.description();
  return run.table + u'.' + run.field + QStringLiteral(": ") + run.operation +
         (run.answers.isEmpty() ? QString() : u' ' + QuotedAnswers(run.answers));
}

}  // namespace

PreviewWindow::PreviewWindow(QWidget* mainWindow, std::unique_ptr<ChangePreview> preview,
                             std::function<void(const ChangePreview&)> apply)
    : QDialog(mainWindow),
      preview_(std::move(preview)),
      model_(std::make_unique<ChangeListModel>(*preview_)),
      apply_(std::move(apply)) {
  setObjectName(QStringLiteral("previewWindow"));
  setWindowTitle(QStringLiteral("Klarifeld: Preview Changes"));
  setAccessibleName(windowTitle());
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(Arial(9, false));
  layOut();
  filterDelay_.setSingleShot(true);
  filterDelay_.setInterval(FilterDelayMilliseconds);
  connect(&filterDelay_, &QTimer::timeout, this, [this] { model_->setFilter(filterBox->text()); });
  connect(filterBox, &QLineEdit::textChanged, this, [this] { filterDelay_.start(); });
  connect(applyButton, &QPushButton::clicked, this, [this] { onApplyClicked(); });
  connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
}

PreviewWindow::~PreviewWindow() = default;

void PreviewWindow::layOut() {
  whatText = ValueLabel(this, "whatText", QStringLiteral("What would run"));
  whatText->setText(describedRun(*preview_));
  countsText = ValueLabel(this, "countsText", QStringLiteral("Counts"));
  countsText->setText(PreviewCountsText(*preview_));
  legendText = ValueLabel(this, "legendText", QStringLiteral("Marks of invisible characters"));
  legendText->setText(QStringLiteral("Marks: ") + VisibleMarksLegend +
                      QStringLiteral(". What changes is highlighted."));

  filterBox = new QLineEdit(this);
  filterBox->setObjectName(QStringLiteral("filterBox"));
  filterBox->setAccessibleName(QStringLiteral("Show only values containing"));
  filterBox->setPlaceholderText(QStringLiteral("Show only values containing…"));
  filterBox->setClearButtonEnabled(true);

  changeList = new QTableView(this);
  changeList->setObjectName(QStringLiteral("changeList"));
  changeList->setAccessibleName(QStringLiteral("Changes"));
  changeList->setModel(model_.get());
  changeList->setItemDelegate(new ChangeDelegate(changeList));
  changeList->setSelectionBehavior(QAbstractItemView::SelectRows);
  changeList->setWordWrap(false);
  changeList->verticalHeader()->hide();
  // Rows of one height: the view never asks a million rows for their size.
  changeList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  changeList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  changeList->horizontalHeader()->setStretchLastSection(true);
  changeList->setColumnWidth(ChangeListModel::Key, 110);
  changeList->setColumnWidth(ChangeListModel::Before, 300);
  changeList->setColumnWidth(ChangeListModel::After, 300);

  applyButton = new QPushButton(QStringLiteral("&Apply"), this);
  applyButton->setObjectName(QStringLiteral("applyButton"));
  applyButton->setAccessibleName(QStringLiteral("Apply"));
  applyButton->setEnabled(preview_->size() > 0);
  closeButton = new QPushButton(QStringLiteral("Close"), this);
  closeButton->setObjectName(QStringLiteral("closeButton"));
  closeButton->setAccessibleName(QStringLiteral("Close"));
  closeButton->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(applyButton);
  buttons->addWidget(closeButton);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(whatText);
  layout->addWidget(countsText);
  layout->addWidget(legendText);
  layout->addWidget(filterBox);
  layout->addWidget(changeList, 1);
  layout->addLayout(buttons);
  resize(860, 520);
}

void PreviewWindow::onApplyClicked() {
  applyButton->setEnabled(false);
  hide();
  apply_(*preview_);
  close();
}
