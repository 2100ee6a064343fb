// The cluster window: a field's values clustered on a worker, nothing ticked until the user
// ticks; the ticked clusters merged through Preview Changes as one run, or added to the
// recipe as one map-values step.
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include "../run/RunTesting.h"
#include "ClusterWindow.h"
#include "PreviewWindow.h"
#include "ValuesWindow.h"

namespace {

class ClusterWindowTest : public RunTest {
 protected:
  ClusterWindow& clustered(MainWindow& form, int method = 0) {
    form.clusterAction->trigger();
    ClusterWindow& window = *form.clusterWindow();
    window.methodBox->setCurrentIndex(method);
    window.clusterButton->click();
    return window;
  }
  static QStringList column(const ClusterWindow& window, int column) {
    QStringList texts;
    const QAbstractItemModel* model = window.clusterList->model();
    for (int row = 0; row < model->rowCount(); ++row) {
      texts << model->index(row, column).data().toString();
    }
    return texts;
  }
  static void tick(ClusterWindow& window, int row) {
    QAbstractItemModel& model = *window.clusterList->model();
    model.setData(model.index(row, ClusterListModel::Merge), Qt::Checked, Qt::CheckStateRole);
  }
  static void rename(ClusterWindow& window, int row, const QString& value) {
    QAbstractItemModel& model = *window.clusterList->model();
    model.setData(model.index(row, ClusterListModel::NewValue), value, Qt::EditRole);
  }
};

const QStringList Cities = {"'New York'", "'new york'", "'New York'", "'NEW YORK'",
                            "NULL",       "'Köln'",     "'Koln'",     "'Koln'",
                            "'Bonn'",     "'Boston'",   "'boston'"};

}  // namespace

TEST_F(ClusterWindowTest, TickedClustersMergeAsOneRunThatOneUndoTakesBack) {
  createTable("VARCHAR(20)", Cities);
  const Column before = values();
  MainWindow& form = chooseField();
  ClusterWindow& window = clustered(form);
  EXPECT_EQ(column(window, ClusterListModel::Values),
            QStringList({"New·York (2), NEW·YORK (1), new·york (1)", "Koln (2), Köln (1)",
                         "Boston (1), boston (1)"}));
  EXPECT_EQ(column(window, ClusterListModel::NewValue),
            QStringList({"New·York", "Koln", "Boston"}));
  EXPECT_EQ(column(window, ClusterListModel::Rows), QStringList({"2", "1", "1"}));
  EXPECT_EQ(window.statusText->text(), "t.v: 3 clusters of 8 distinct values.");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(window.statusText)->text(QAccessible::Name),
            window.statusText->text());
  EXPECT_EQ(QAccessible::queryAccessibleInterface(window.methodBox)->text(QAccessible::Value),
            "Fingerprint");
  EXPECT_FALSE(window.mergeButton->isEnabled()) << "nothing is ticked until the user ticks";

  tick(window, 0);
  tick(window, 2);
  rename(window, 0, "New York City");
  EXPECT_EQ(column(window, ClusterListModel::Rows), QStringList({"4", "1", "1"}));
  EXPECT_EQ(window.statusText->text(),
            "t.v: 3 clusters of 8 distinct values. 2 ticked: merging changes 5 rows.");
  window.mergeButton->click();
  PreviewWindow* preview = form.previewWindow();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->applyButton->text(), "&Apply All 5 Changes");
  // A row changed since the preview read it is left, as any applied preview leaves it.
  db.exec("UPDATE t SET v = 'NEW YORK!' WHERE id = 4");
  preview->applyButton->click();
  EXPECT_EQ(values(), Column({text("New York City"), text("New York City"), text("New York City"),
                              text("NEW YORK!"), std::nullopt, text("Köln"), text("Koln"),
                              text("Koln"), text("Bonn"), text("Boston"), text("Boston")}));
  EXPECT_EQ(journalRuns().size(), 1u);
  EXPECT_EQ(writes(), 5) << "the four written, and the test's own change";

  db.exec("UPDATE t SET v = 'NEW YORK' WHERE id = 4");
  form.undoRun(journalRuns().at(0).id);
  EXPECT_EQ(values(), before) << "one undo takes every merged row back";
}

TEST_F(ClusterWindowTest, TickedClustersJoinTheRecipeAsOneMapValuesStep) {
  createTable("VARCHAR(20)", Cities);
  MainWindow& form = chooseField();
  ClusterWindow& window = clustered(form, 1);  // n-gram fingerprint
  ASSERT_EQ(window.clusterList->model()->rowCount(), 3);
  tick(window, 1);
  window.addToRecipeButton->click();
  ASSERT_EQ(form.recipe().steps.size(), 1u);
  const RecipeStep& step = form.recipe().steps[0];
  EXPECT_EQ(step.operation->name, u"map-values");
  EXPECT_EQ(step.answers.first, "[[\"Köln\",\"Koln\"]]");
  EXPECT_EQ(writes(), 0);
}

// The values window's "Cluster…" opens the clusters of its own field; NULL is never one.
TEST_F(ClusterWindowTest, ValuesWindowOpensTheClustersOfItsField) {
  createTable("VARCHAR(20)", {"NULL", "NULL", "''", "' '"});
  MainWindow& form = chooseField();
  form.valuesAction->trigger();
  form.valuesWindow()->clusterButton->click();
  ClusterWindow& window = *form.clusterWindow();
  window.clusterButton->click();
  EXPECT_EQ(column(window, ClusterListModel::Values), QStringList({"(empty text) (1), · (1)"}));
  EXPECT_EQ(window.statusText->text(), "t.v: 1 cluster of 2 distinct values.");
}
