// The scan window: findings listed as each table's scan ends, a finding opening Preview
// Changes with its operation and answers, copying, and Stop.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include "../run/RunTesting.h"
#include "PreviewWindow.h"
#include "ScanWindow.h"

namespace {

class ScanWindowTest : public RunTest {
 protected:
  static QTreeWidgetItem* finding(ScanWindow& window, const QString& column, const QString& kind) {
    for (int i = 0; i < window.findingList->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = window.findingList->topLevelItem(i);
      if (item->text(1) == column && item->text(2) == kind) return item;
    }
    return nullptr;
  }
};

}  // namespace

TEST_F(ScanWindowTest, AFindingOpensItsPreviewWithItsOperationAndAnswers) {
  createTable("VARCHAR(20)", {"'a\\tb'", "' lead'", "'ok'", "'c\\td'"});
  db.exec("CREATE VIEW seen AS SELECT v FROM t");
  MainWindow& form = chooseField();
  form.scanDatabaseAction->trigger();
  ScanWindow* window = form.scanWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->progressText->text(), "2 findings in 1 text column of 2 tables.")
      << "the view is not scanned";
  QTreeWidgetItem* tabs = finding(*window, "v", "Tabs");
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(tabs->text(3), "2");
  EXPECT_EQ(tabs->text(4), "50.0 %");
  EXPECT_EQ(tabs->text(5), "Replace Tabs in Selected Field With... \"·\"");
  window->findingList->setCurrentItem(tabs);
  EXPECT_EQ(window->examplesText->text(), "Examples:\nid = 1: a→b\nid = 4: c→d");
  EXPECT_EQ(window->chosenAsText(),
            "table\tcolumn\tkind\trows\tshare\tsuggested operation\n"
            "t\tv\tTabs\t2\t50.0 %\tReplace Tabs in Selected Field With... \"·\"\n");

  // Space ticks from any column; the tick is a step of the main window's one recipe.
  EXPECT_FALSE(window->previewAllButton->isEnabled());
  EXPECT_TRUE(window->previewAllButton->toolTip().startsWith("Tick findings with Space first"));
  EXPECT_EQ(tabs->data(0, Qt::AccessibleDescriptionRole), "not ticked: Space ticks it");
  window->findingList->setCurrentItem(tabs, 3);
  QTest::keyClick(window->findingList, Qt::Key_Space);
  EXPECT_EQ(tabs->checkState(0), Qt::Checked);
  EXPECT_EQ(tabs->data(0, Qt::AccessibleDescriptionRole), "ticked: a step of the recipe");
  EXPECT_EQ(window->tickedText->text(), "1 ticked; the recipe has 1 step.");
  EXPECT_TRUE(window->previewAllButton->isEnabled());
  QTemporaryDir files;
  dialogs.chosenFile = files.filePath("ticked.json");
  form.saveRecipeAction->trigger();
  QString problem;
  const std::optional<Recipe> saved = ReadRecipeFile(dialogs.chosenFile, problem);
  ASSERT_TRUE(saved) << problem.toStdString();
  EXPECT_EQ(saved->steps.size(), 1u);

  // Enter (or a double-click) previews the suggested operation: nothing asked, nothing written.
  QTest::keyClick(window->findingList, Qt::Key_Return);
  EXPECT_EQ(dialogs.prompts(), QStringList());
  EXPECT_EQ(form.operationBox->currentText(), "Replace Tabs in Selected Field With...");
  PreviewWindow* preview = form.previewWindow();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->applyButton->text(), "&Apply All 2 Changes");
  EXPECT_EQ(writes(), 0);

  // Once applied, the finding is cleaned: the scan counts the table again.
  QTest::mouseClick(preview->applyButton, Qt::LeftButton);
  EXPECT_EQ(finding(*window, "v", "Tabs"), nullptr);
  ASSERT_NE(finding(*window, "v", "Leading spaces"), nullptr);
  EXPECT_EQ(window->progressText->text(), "Scanned again after writing: t. 1 finding in all.");
  EXPECT_EQ(window->tickedText->text(),
            "Nothing ticked: Space ticks a finding, and its operation becomes a step of the "
            "recipe.");

  // Another database, chosen in the login window, is the one scanned next.
  ScratchDatabase other("t_scan_window_other");
  other.exec("CREATE TABLE u (w TEXT); INSERT INTO u VALUES ('x\\ny')");
  preview->close();
  QTest::mouseClick(form.switchDatabaseButton, Qt::LeftButton);
  login().databaseBox->setText(other.name());
  QTest::mouseClick(login().nextButton, Qt::LeftButton);
  form.scanDatabaseAction->trigger();
  ASSERT_NE(finding(*window, "w", "Line breaks"), nullptr);
  EXPECT_EQ(window->findingList->topLevelItemCount(), 1);
}

TEST_F(ScanWindowTest, StopEndsALongScanAtOnce) {
  createTable("TEXT", {});
  db.exec(
      "INSERT INTO t SELECT seq, REPEAT(' a\\tb ', 10) FROM seq_1_to_200000;"
      "CREATE TABLE a (v TEXT); INSERT INTO a VALUES ('x\\ty')");
  MainWindow& form = chooseField();
  // Once the scan of t, after a, runs on the server: choose a's finding, then Stop.
  const QString scanningT = "SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '" +
                            db.name() + "' AND INFO LIKE 'SELECT COUNT(*), COUNT(%FROM `t`%'";
  QTimer stopper;
  QObject::connect(&stopper, &QTimer::timeout, [&] {
    ScanWindow* window = form.scanWindow();
    if (!window || !window->progressText->text().startsWith("Scanning table 2 of 3: t") ||
        db.column(scanningT).empty()) {
      return;
    }
    stopper.stop();
    window->findingList->setCurrentItem(window->findingList->topLevelItem(0));
    EXPECT_FALSE(window->previewButton->isEnabled()) << "not while the scan goes on";
    window->stopButton->click();
  });
  stopper.start(20);
  form.scanDatabaseAction->trigger();
  ScanWindow* window = form.scanWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->progressText->text(),
            "Stopped after 1 of 3 tables: 1 finding in 1 text column of 1 table.");
  EXPECT_FALSE(window->isScanning());
  EXPECT_EQ(dialogs.messages(), QStringList()) << "a stop is no failure";
  // What was chosen meanwhile can be previewed now, and shows its example.
  EXPECT_TRUE(window->previewButton->isEnabled());
  EXPECT_EQ(window->examplesText->text(), "Examples:\nx→y");
}
