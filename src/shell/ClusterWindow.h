#pragma once

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ClusterListModel.h"
#include "RowCondition.h"

class Connection;
class Dialogs;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;

// "Run" → "Cluster Values…": the spellings of one thing among the chosen field's values. A
// method and its settings, "Cluster" (on a worker, with progress and Stop); then the
// clusters, largest first, each unticked, with the value it becomes, editable. "Merge
// Ticked…" hands the ticked clusters as map-values' pairs to Preview Changes, whose Apply
// writes them as one run; "Add to Recipe" adds them as one map-values step.
class ClusterWindow : public QDialog {
 public:
  using Hand = std::function<void(const QString& table, const QString& field, const QString& map)>;
  ClusterWindow(QWidget* mainWindow, Dialogs& dialogs, Hand merge, Hand addToRecipe);
  ~ClusterWindow() override;

  // The values of `field` of `table` (of the rows where `rows` holds) to cluster; read from
  // the server at the first "Cluster".
  void chooseField(const QString& connectionString, const QString& table, const QString& field,
                   const QString& rows = {});
  bool isWorking() const { return working_; }
  // Reads the values again at the next "Cluster", once rows of its table were written.
  void valuesWritten(const QString& table);

  QComboBox* methodBox;
  QSpinBox* ngramBox;
  QSpinBox* radiusBox;
  QSpinBox* blockBox;
  QLabel* blockNote;
  QPushButton* clusterButton;
  QPushButton* stopButton;
  QLabel* statusText;
  QTableView* clusterList;
  QPushButton* mergeButton;
  QPushButton* addToRecipeButton;
  QPushButton* closeButton;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void layOut();
  QLayout* layOutSettings();
  void followMethod();
  void followTicks();
  void onClusterClicked();
  void onStopClicked();
  void hand(const Hand& to);
  void showProgress();

  Dialogs& dialogs_;
  Hand merge_, addToRecipe_;
  FieldRows chosen_;
  std::optional<std::vector<ClusterValue>> values_;  // read once, clustered by each method
  ClusterListModel model_;
  bool working_ = false;
  std::unique_ptr<Connection> reading_;   // while the values are read, so that Stop ends it
  std::atomic<bool> readingNow_ = false;  // set once reading_ is open, until the values are in
  std::atomic<bool> stop_ = false;
  std::atomic<qint64> done_ = 0, total_ = 0;
  QTimer progressTimer_;
};
