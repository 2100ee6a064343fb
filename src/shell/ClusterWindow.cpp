#include "ClusterWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include "ColumnClusters.h"
#include "Connection.h"
#include "Controls.h"
#include "DbError.h"
#include "Dialogs.h"
#include "RowCondition.h"
#include "RunProgress.h"
#include "WorkerThread.h"

namespace {

constexpr int ProgressMilliseconds = 200;

// In the order of the method box.
constexpr ClusterMethod Methods[] = {ClusterMethod::Fingerprint, ClusterMethod::NgramFingerprint,
                                     ClusterMethod::Levenshtein};

QSpinBox* spinBox(QWidget* window, const char* name, int low, int high, int value) {
  auto* box = new QSpinBox(window);
  box->setObjectName(QString::fromLatin1(name));
  box->setRange(low, high);
  box->setValue(value);
  return box;
}

QPushButton* button(QWidget* window, const char* name, const QString& caption) {
  auto* made = new QPushButton(caption, window);
  made->setObjectName(QString::fromLatin1(name));
  return made;
}

}  // namespace

ClusterWindow::ClusterWindow(QWidget* mainWindow, Dialogs& dialogs, Hand merge, Hand addToRecipe)
    : QDialog(mainWindow),
      dialogs_(dialogs),
      merge_(std::move(merge)),
      addToRecipe_(std::move(addToRecipe)) {
  setObjectName(QStringLiteral("clusterWindow"));
  setWindowTitle(QStringLiteral("Klarifeld: Cluster Values"));
  setAccessibleName(windowTitle());
  setFont(Arial(9, false));
  layOut();
  progressTimer_.setInterval(ProgressMilliseconds);
  connect(&progressTimer_, &QTimer::timeout, this, [this] { showProgress(); });
  connect(methodBox, &QComboBox::currentIndexChanged, this, [this] { followMethod(); });
  connect(clusterButton, &QPushButton::clicked, this, [this] { onClusterClicked(); });
  connect(stopButton, &QPushButton::clicked, this, [this] { onStopClicked(); });
  connect(mergeButton, &QPushButton::clicked, this, [this] { hand(merge_); });
  connect(addToRecipeButton, &QPushButton::clicked, this, [this] { hand(addToRecipe_); });
  connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
  connect(&model_, &QAbstractItemModel::dataChanged, this, [this] { followTicks(); });
  connect(&model_, &QAbstractItemModel::modelReset, this, [this] { followTicks(); });
  OnSpace(clusterList, [this] {
    const QModelIndex current = clusterList->currentIndex();
    if (!current.isValid()) return;
    const QModelIndex tick = model_.index(current.row(), ClusterListModel::Merge);
    model_.setData(
        tick, model_.data(tick, Qt::CheckStateRole) == Qt::Checked ? Qt::Unchecked : Qt::Checked,
        Qt::CheckStateRole);
  });
  followMethod();
  followTicks();
}

ClusterWindow::~ClusterWindow() = default;

void ClusterWindow::layOut() {
  statusText = ValueLabel(this, "statusText", QStringLiteral("Clusters"));
  clusterList = LongTable(this, "clusterList", QStringLiteral("Clusters"), &model_);
  clusterList->setEditTriggers(QAbstractItemView::DoubleClicked |
                               QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::AnyKeyPressed);
  clusterList->setColumnWidth(ClusterListModel::Merge, 60);
  clusterList->setColumnWidth(ClusterListModel::Values, 430);
  clusterList->setColumnWidth(ClusterListModel::NewValue, 200);
  mergeButton = button(this, "mergeButton", QStringLiteral("&Merge Ticked…"));
  addToRecipeButton = button(this, "addToRecipeButton", QStringLiteral("&Add to Recipe"));
  closeButton = button(this, "closeButton", QStringLiteral("Close"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(mergeButton);
  buttons->addWidget(addToRecipeButton);
  buttons->addStretch();
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(layOutSettings());
  layout->addWidget(blockNote);
  layout->addWidget(statusText);
  layout->addWidget(clusterList, 1);
  layout->addLayout(buttons);
  resize(900, 560);
}

QLayout* ClusterWindow::layOutSettings() {
  methodBox = new QComboBox(this);
  methodBox->setObjectName(QStringLiteral("methodBox"));
  methodBox->addItems({QStringLiteral("Fingerprint"), QStringLiteral("N-gram fingerprint"),
                       QStringLiteral("Nearest neighbours (edit distance)")});
  ngramBox = spinBox(this, "ngramBox", 1, 6, 2);
  radiusBox = spinBox(this, "radiusBox", 1, 5, 2);
  blockBox = spinBox(this, "blockBox", 2, 10, 6);
  blockNote = new QLabel(
      QStringLiteral("Values are compared only when they share as many characters in a row as "
                     "the block size: a smaller block finds more and takes longer."),
      this);
  blockNote->setObjectName(QStringLiteral("blockNote"));
  blockNote->setWordWrap(true);
  clusterButton = button(this, "clusterButton", QStringLiteral("&Cluster"));
  clusterButton->setDefault(true);
  stopButton = button(this, "stopButton", QStringLiteral("&Stop"));
  auto* settings = new QHBoxLayout;
  const auto add = [&](const QString& caption, QWidget* box) {
    auto* label = new QLabel(caption, this);
    label->setBuddy(box);
    settings->addWidget(label);
    settings->addWidget(box);
  };
  add(QStringLiteral("M&ethod:"), methodBox);
  add(QStringLiteral("&N-gram size:"), ngramBox);
  add(QStringLiteral("&Radius:"), radiusBox);
  add(QStringLiteral("&Block size:"), blockBox);
  settings->addStretch();
  settings->addWidget(clusterButton);
  settings->addWidget(stopButton);
  return settings;
}

void ClusterWindow::chooseField(const QString& connectionString, const QString& table,
                                const QString& field, const QString& rows) {
  chosen_ = {connectionString, table, field, rows};
  values_.reset();
  model_.show({});
  statusText->setText(
      QStringLiteral("%1: choose a method and press Cluster. Nothing is written until a "
                     "preview of the ticked clusters is applied.")
          .arg(chosen_.text()));
}

void ClusterWindow::valuesWritten(const QString& table) {
  if (table != chosen_.table || working_) return;
  values_.reset();
  if (model_.rowCount() > 0) {
    model_.show({});
    statusText->setText(
        QStringLiteral("%1 was written: press Cluster to cluster its values as they stand now.")
            .arg(chosen_.text()));
  }
}

// Each method's settings, and only they, can be changed.
void ClusterWindow::followMethod() {
  const ClusterMethod method = Methods[std::max(0, methodBox->currentIndex())];
  ngramBox->setEnabled(!working_ && method == ClusterMethod::NgramFingerprint);
  radiusBox->setEnabled(!working_ && method == ClusterMethod::Levenshtein);
  blockBox->setEnabled(!working_ && method == ClusterMethod::Levenshtein);
  blockNote->setVisible(method == ClusterMethod::Levenshtein);
  methodBox->setEnabled(!working_);
  clusterButton->setEnabled(!working_);
  stopButton->setEnabled(working_);
}

void ClusterWindow::followTicks() {
  mergeButton->setEnabled(!working_ && model_.ticked() > 0);
  addToRecipeButton->setEnabled(!working_ && model_.ticked() > 0);
  if (working_ || model_.rowCount() == 0) return;
  QString text =
      QStringLiteral("%1: %2 of %3.")
          .arg(
              chosen_.text(),
              CountedText(model_.rowCount(), QStringLiteral("cluster"), QStringLiteral("clusters")),
              CountedText(qint64(values_ ? values_->size() : 0), QStringLiteral("distinct value"),
                          QStringLiteral("distinct values")));
  if (model_.ticked() > 0) {
    text +=
        QStringLiteral(" %1 ticked: merging changes %2.")
            .arg(CountText(model_.ticked()),
                 CountedText(model_.tickedRows(), QStringLiteral("row"), QStringLiteral("rows")));
  }
  statusText->setText(text);
}

void ClusterWindow::onClusterClicked() {
  if (working_ || chosen_.table.isEmpty()) return;
  ClusterSettings settings;
  settings.method = Methods[std::max(0, methodBox->currentIndex())];
  settings.ngram = ngramBox->value();
  settings.radius = radiusBox->value();
  settings.block = blockBox->value();
  working_ = true;
  stop_ = false;
  done_ = 0;
  total_ = 0;
  model_.show({});
  followMethod();
  followTicks();
  statusText->setText(QStringLiteral("Counting the values of %1…").arg(chosen_.text()));
  progressTimer_.start();
  std::optional<std::vector<ValueCluster>> clusters;
  QString failure;
  const bool read = values_.has_value();
  reading_ = std::make_unique<Connection>();
  reading_->CommandTimeout = 0;  // a big column takes its time; Stop ends it
  try {
    RunWhileServingEvents([&] {
      if (!values_) {
        reading_->Open(chosen_.connectionString);
        readingNow_ = true;
        if (stop_) return;  // asked before Stop could end the reading
        values_ = ValuesToCluster(*reading_, chosen_.table, chosen_.field, chosen_.rows);
        readingNow_ = false;
      }
      clusters = ClusterValues(*values_, settings, [this](qint64 done, qint64 total) {
        done_ = done;
        total_ = total;
        return !stop_;
      });
    });
  } catch (const DbError& failed) {
    readingNow_ = false;
    if (!stop_) failure = QString::fromUtf8(failed.what());
  }
  progressTimer_.stop();
  reading_.reset();
  working_ = false;
  followMethod();
  const bool none = clusters && clusters->empty();
  if (clusters) model_.show(std::move(*clusters));
  followTicks();
  if (!clusters) {
    statusText->setText(
        !failure.isEmpty()
            ? QStringLiteral("The values of %1 could not be read: %2").arg(chosen_.text(), failure)
        : read || values_ ? QStringLiteral("Stopped: no clusters are shown.")
                          : QStringLiteral("Stopped before the values were read."));
  } else if (none) {
    statusText->setText(
        QStringLiteral("%1: no two values are alike by this method.").arg(chosen_.text()));
  }
  // The first cluster is current, so that Space ticks it and the arrows go from there.
  if (model_.rowCount() > 0) clusterList->setCurrentIndex(model_.index(0, ClusterListModel::Merge));
  clusterList->setFocus();
}

void ClusterWindow::onStopClicked() {
  stop_ = true;
  if (readingNow_) reading_->Cancel();
}

void ClusterWindow::showProgress() {
  if (total_ == 0) return;
  statusText->setText(QStringLiteral("Clustering the %1 of %2: %3%…")
                          .arg(CountedText(total_, QStringLiteral("distinct value"),
                                           QStringLiteral("distinct values")),
                               chosen_.text())
                          .arg(done_ * 100 / total_));
}

void ClusterWindow::hand(const Hand& to) {
  if (working_ || model_.ticked() == 0) return;
  to(chosen_.table, chosen_.field, model_.tickedMap());
}

// Closing while the work goes on stops it; the window goes once it has.
void ClusterWindow::closeEvent(QCloseEvent* event) {
  if (working_) onStopClicked();
  event->accept();
}
