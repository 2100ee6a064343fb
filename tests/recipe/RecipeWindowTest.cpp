// Recipes in the windows: findings ticked in the scan window previewed and applied as one
// run, undone as one; steps added in the main window, saved and opened again.
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "../run/RunTesting.h"
#include "ChangeListModel.h"
#include "HistoryWindow.h"
#include "PreviewWindow.h"
#include "ProgressWindow.h"
#include "ScanWindow.h"

#include <QTableView>

namespace {

class RecipeWindowTest : public RunTest {
 protected:
  void SetUp() override {
    createTable("VARCHAR(20)", {"'a\\tb'", "'ok '", "'c\\td '"});
    db.exec(
        "ALTER TABLE t ADD COLUMN w TEXT; UPDATE t SET w = CONCAT('x\\ny', id);"
        "UPDATE writes SET n = 0");
  }
  Column columnW() const { return db.column("SELECT w FROM t ORDER BY id"); }
  QTemporaryDir files;
};

}  // namespace

TEST_F(RecipeWindowTest, TickedFindingsArePreviewedAppliedAndUndoneAsOneRun) {
  const Column before = values(), wBefore = columnW();
  MainWindow& form = chooseField();
  form.scanTableAction->trigger();
  ScanWindow& scan = *form.scanWindow();
  EXPECT_FALSE(scan.previewAllButton->isEnabled()) << "nothing ticked yet";
  // Ticked by Space, as by keyboard: tabs in v, line breaks in w.
  int ticked = 0;
  for (int i = 0; i < scan.findingList->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = scan.findingList->topLevelItem(i);
    if (item->text(2) != "Tabs" && item->text(2) != "Line breaks") continue;
    scan.findingList->setCurrentItem(item);
    QTest::keyClick(scan.findingList, Qt::Key_Space);
    ++ticked;
  }
  ASSERT_EQ(ticked, 2);
  ASSERT_EQ(scan.tickedRecipe().steps.size(), 2u);
  EXPECT_TRUE(scan.previewAllButton->isEnabled());

  dialogs.chosenFile = files.filePath("ticked.json");
  QTest::mouseClick(scan.saveRecipeButton, Qt::LeftButton);
  QString problem;
  const std::optional<Recipe> saved = ReadRecipeFile(dialogs.chosenFile, problem);
  ASSERT_TRUE(saved) << problem.toStdString();
  EXPECT_EQ(saved->steps, scan.tickedRecipe().steps);

  QTest::mouseClick(scan.previewAllButton, Qt::LeftButton);
  PreviewWindow* preview = form.previewWindow();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->applyButton->text(), "&Apply All 5 Changes");
  EXPECT_TRUE(
      preview->countsText->text().contains("t.w: 3 records read: 3 would change, 0 unchanged"))
      << preview->countsText->text().toStdString();
  const QAbstractItemModel* changes = preview->changeList->model();
  EXPECT_EQ(changes->headerData(ChangeListModel::Field, Qt::Horizontal).toString(), "Field");
  // In the list's order: w's three findings first.
  EXPECT_EQ(changes->index(4, ChangeListModel::Field).data().toString(), "t.v");
  EXPECT_EQ(writes(), 0) << "a preview writes nothing";

  QTest::mouseClick(preview->applyButton, Qt::LeftButton);
  EXPECT_EQ(values(), Column({text("a b"), text("ok "), text("c d ")}));
  EXPECT_EQ(columnW(), Column({text("x y1"), text("x y2"), text("x y3")}));
  EXPECT_EQ(writes(), 3) << "each row written once, with both of its changed fields";
  EXPECT_EQ(form.progressWindow().tableValue->text(), "t");
  EXPECT_EQ(form.progressWindow().fieldValue->text(), "t.w, t.v");
  const std::vector<JournalRun> runs = journalRuns();
  ASSERT_EQ(runs.size(), 1u) << "one run";
  EXPECT_EQ(runs[0].operation, "Recipe t.w, t.v: 2 steps");
  EXPECT_EQ(runs[0].written, 5);

  form.undoRun(runs[0].id);
  EXPECT_EQ(values(), before);
  EXPECT_EQ(columnW(), wBefore);
  EXPECT_EQ(journalRuns().at(1).undoneBy, journalRuns().at(0).id);
  EXPECT_EQ(form.progressWindow().tableValue->text(), "t") << "named as the run named it";
  EXPECT_EQ(form.progressWindow().fieldValue->text(), "t.w, t.v");
  // History names the numbers its steps took, which it does not list.
  form.historyAction->trigger();
  EXPECT_EQ(form.historyWindow()->runList->topLevelItem(1)->text(2),
            "Recipe t.w, t.v: 2 steps (its steps: runs 2 and 3)");
}

TEST_F(RecipeWindowTest, StepsAddedHereAreSavedAndOpenedAgain) {
  MainWindow& form = chooseField();
  form.saveRecipeAction->trigger();
  EXPECT_EQ(dialogs.messages(),
            QStringList({"The recipe has no steps yet: \"Add to Recipe\" adds one."}));
  form.operationBox->setCurrentIndex(
      FindOperation(u"Replace Tabs in Selected Field With...")->position);
  dialogs.queueAnswers({"_"});
  form.addToRecipeAction->trigger();
  form.operationBox->setCurrentIndex(FindOperationByName(u"remove-extra-spaces-at-end")->position);
  form.addToRecipeAction->trigger();
  EXPECT_EQ(form.statusLine->text(), "Step 2 of the recipe: remove-extra-spaces-at-end on t.v.");
  ASSERT_EQ(form.recipe().steps.size(), 2u);

  dialogs.chosenFile = files.filePath("monthly.json");
  form.saveRecipeAction->trigger();
  form.openRecipeAction->trigger();
  PreviewWindow* preview = form.previewWindow();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->whatText->text(), "Recipe t.v: 2 steps");
  EXPECT_TRUE(preview->countsText->text().startsWith(
      "Step 1, replace-tabs on t.v: 2 records change.\n"
      "Step 2, remove-extra-spaces-at-end on t.v: 2 records change.\n"))
      << preview->countsText->text().toStdString();
  // A change taken out is left as it is.
  preview->changeList->setCurrentIndex(preview->changeList->model()->index(1, 0));
  QTest::keyClick(preview->changeList, Qt::Key_Space);
  EXPECT_EQ(preview->applyButton->text(), "&Apply 2 of 3 Changes");
  QTest::mouseClick(preview->applyButton, Qt::LeftButton);
  EXPECT_EQ(values(), Column({text("a_b"), text("ok "), text("c_d")}));
  EXPECT_EQ(writes(), 2) << "each changed value written once, the steps applied in order";
  form.newRecipeAction->trigger();
  EXPECT_TRUE(form.recipe().steps.empty());
}
