#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include "../support/QStringPrinting.h"
#include "ErrorReport.h"
#include "ListViewWidget.h"
#include "MainWindow.h"
#include "OperationCatalogue.h"
#include "WindowTesting.h"

namespace {
const QString LoadTag = QStringLiteral("Klarifeld2021/08/31.Form2.Form_Load");
}  // namespace

class MainWindowTest : public testing::Test, public WindowTest {
 protected:
  // The main window, reached through the login window with a working profile.
  MainWindow& mainWindow() {
    storeWorkingProfile(db.name());
    return start().mainWindow();
  }
};

TEST_F(MainWindowTest, LoadsTheOperationsHeadersAndFirstOperation) {
  MainWindow& form = mainWindow();
  // map-values, made by the values window and recipes, is the one not listed.
  ASSERT_EQ(form.operationBox->count(), OperationCount - 1);
  for (const CleaningOperation& operation : Catalogue()) {
    if (!operation.listed()) continue;
    EXPECT_EQ(form.operationBox->itemText(operation.position), operation.caption.toString());
  }
  EXPECT_EQ(form.operationBox->currentText(), "Remove All Spaces in Selected Field");
  EXPECT_EQ(form.tableList->headerItem()->text(0), "Table(s)");
  EXPECT_EQ(form.fieldList->headerItem()->text(0), "Field(s)");
  EXPECT_EQ(form.previewList->headerItem()->text(0), "First 100 Entries (Preview)");
  EXPECT_EQ(form.tableList->header()->sectionSize(0), 433);
  EXPECT_EQ(form.previewList->toolTip(),
            "Move | line to right and out of window to reveal full names.");
  EXPECT_EQ(form.windowTitle(), "Klarifeld");
  // The window grows by the menu bar and the status line; the contents keep their geometry.
  const int menuHeight = form.menuBar->height();
  EXPECT_GT(menuHeight, 0);
  EXPECT_EQ(form.size(), QSize(512, 459 + menuHeight + form.statusLine->height()));
  EXPECT_EQ(form.statusLine->y(), 459 + menuHeight);
  EXPECT_EQ(form.startButton->mapTo(&form, QPoint(0, 0)), QPoint(8, 429 + menuHeight));
  EXPECT_EQ(form.startButton->geometry(), QRect(8, 429, 248, 27));
  EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(MainWindowTest, APickedOperationIsRestoredAtTheNextStart) {
  MainWindow& form = mainWindow();
  form.operationBox->setCurrentIndex(7);
  emit form.operationBox->activated(7);
  EXPECT_EQ(settings.read("Combo1", ""), "7");
}

TEST_F(MainWindowTest, StoredOperationRules) {
  settings.write("Combo1", "7");
  EXPECT_EQ(mainWindow().operationBox->currentText(), "Remove Tabs in Selected Field");
}

// The operations added later come after the first 27, so stored positions keep their meaning.
TEST_F(MainWindowTest, TheFirstAddedOperationIsStoredAs27) {
  settings.write("Combo1", "27");
  EXPECT_EQ(mainWindow().operationBox->currentText(),
            "Replace Text Matching a Regular Expression in Selected Field With...");
}

TEST_F(MainWindowTest, StoredMinusOneSelectsNothingSilently) {
  settings.write("Combo1", "-1");
  EXPECT_EQ(mainWindow().operationBox->currentIndex(), -1);
  EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(MainWindowTest, StoredNumbersThatAreNoPositionAreReportedOnLine166) {
  for (const char* stored : {"34", "abc", "-2", "40000"}) {
    settings.write("Combo1", stored);
    dialogs.clear();
    MainWindow form(login(), dialogs, settings);
    form.load();
    EXPECT_EQ(form.operationBox->currentIndex(), -1) << stored;
    ASSERT_EQ(dialogs.messages().size(), 1) << stored;
    EXPECT_TRUE(dialogs.messages()[0].endsWith(ErrorReportText("", LoadTag, 166)));
    EXPECT_EQ(form.previewList->headerItem()->text(0), "First 100 Entries (Preview)");
  }
}

TEST_F(MainWindowTest, TableClickListsFieldsAndPreviewsTheFirst) {
  db.exec(
      "CREATE TABLE empty_t (a INT, b TEXT);"
      "CREATE TABLE t100 (n INT, v TEXT); INSERT INTO t100 SELECT seq, IF(MOD(seq, 10) = 0, NULL, "
      "CONCAT('v', seq)) FROM seq_1_to_100;"
      "CREATE TABLE t101 (n INT); INSERT INTO t101 SELECT seq FROM seq_1_to_101;"
      "CREATE TABLE t5000 (n INT); INSERT INTO t5000 SELECT seq FROM seq_1_to_5000;"
      "CREATE TABLE `we``ird` (`f``1` TEXT); INSERT INTO `we``ird` VALUES ('odd')");
  MainWindow& form = mainWindow();
  ASSERT_EQ(entries(form.tableList), QStringList({"empty_t", "t100", "t101", "t5000", "we`ird"}));

  clickEntry(form.tableList, 0);
  EXPECT_EQ(entries(form.fieldList), QStringList({"a", "b"}));
  EXPECT_EQ(form.fieldList->selectedText(), "a");
  EXPECT_EQ(form.previewList->count(), 0);

  clickEntry(form.tableList, 1);
  EXPECT_EQ(entries(form.fieldList), QStringList({"n", "v"}));
  EXPECT_EQ(form.previewList->count(), 100);
  clickEntry(form.fieldList, 1);
  EXPECT_EQ(form.fieldList->selectedText(), "v");
  EXPECT_EQ(form.previewList->topLevelItem(0)->text(0), "v1");
  EXPECT_EQ(form.previewList->topLevelItem(9)->text(0), "") << "a null shows empty";

  clickEntry(form.tableList, 2);
  EXPECT_EQ(form.previewList->count(), 101);
  clickEntry(form.tableList, 3);
  EXPECT_EQ(form.previewList->count(), 101);
  clickEntry(form.tableList, 4);
  EXPECT_EQ(entries(form.fieldList), QStringList({"f`1"}));
  EXPECT_EQ(entries(form.previewList), QStringList({"odd"}));
  EXPECT_TRUE(dialogs.shown().empty());
  EXPECT_EQ(form.pointer(), Pointer::Default);
}

// Otherwise the field list would still show the last table's fields, and a run would
// take the field at that position in the newly selected table.
TEST_F(MainWindowTest, TheKeyboardPicksTablesAndFieldsLikeAClick) {
  db.exec(
      "CREATE TABLE t1 (a INT, b INT); INSERT INTO t1 VALUES (1, 2);"
      "CREATE TABLE t2 (x INT, y INT, z INT); INSERT INTO t2 VALUES (7, 8, 9)");
  MainWindow& form = mainWindow();
  clickEntry(form.tableList, 0);
  QTest::keyClick(form.tableList, Qt::Key_Down);
  EXPECT_EQ(entries(form.fieldList), QStringList({"x", "y", "z"}));
  EXPECT_EQ(entries(form.previewList), QStringList({"7"}));
  QTest::keyClick(form.fieldList, Qt::Key_End);
  EXPECT_EQ(entries(form.previewList), QStringList({"9"}));
  EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(MainWindowTest, ATableDroppedMeanwhileIsReportedAndThePointerRestored) {
  db.exec("CREATE TABLE gone (x INT)");
  MainWindow& form = mainWindow();
  db.exec("DROP TABLE gone");
  clickEntry(form.tableList, 0);
  const QStringList shown = dialogs.messages();
  ASSERT_FALSE(shown.isEmpty());
  EXPECT_TRUE(shown[0].startsWith("Table '" + db.name() +
                                  ".gone' doesn't exist\r\n"
                                  "in Klarifeld2021/08/31.Form2.ListView1_Click at line 110"));
  EXPECT_EQ(form.pointer(), Pointer::Default);
}

TEST_F(MainWindowTest, SwitchingBackAndForthKeepsTheLists) {
  db.exec("CREATE TABLE s (n INT); CREATE TABLE t (a INT, b INT); INSERT INTO t VALUES (1, 2)");
  MainWindow& form = mainWindow();
  clickEntry(form.tableList, 1);
  form.operationBox->setCurrentIndex(3);
  QTest::mouseClick(form.switchDatabaseButton, Qt::LeftButton);
  LoginWindow& login = this->login();
  EXPECT_TRUE(login.isVisible());
  EXPECT_FALSE(form.isVisible());
  QTest::mouseClick(login.nextButton, Qt::LeftButton);
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(login.isVisible());
  EXPECT_EQ(entries(form.tableList), QStringList({"s", "t"})) << "listed once, not twice";
  EXPECT_EQ(form.tableList->selectedText(), "t");
  EXPECT_EQ(entries(form.fieldList), QStringList({"a", "b"}));
  EXPECT_EQ(entries(form.previewList), QStringList({"1"}));
  EXPECT_EQ(form.operationBox->currentIndex(), 3);
  EXPECT_EQ(form.operationBox->count(), OperationCount - 1) << "loaded once";
}

// The fields and preview belong to a table; where it is no longer listed, they go too.
TEST_F(MainWindowTest, ADatabaseWithoutTheTableEmptiesItsFields) {
  db.exec("CREATE TABLE t (a INT); INSERT INTO t VALUES (1)");
  ScratchDatabase other(db.name() + "2");
  other.exec("CREATE TABLE u (a INT)");
  MainWindow& form = mainWindow();
  clickEntry(form.tableList, 0);
  QTest::mouseClick(form.switchDatabaseButton, Qt::LeftButton);
  login().databaseBox->setText(other.name());
  QTest::mouseClick(login().nextButton, Qt::LeftButton);
  EXPECT_EQ(entries(form.tableList), QStringList({"u"}));
  EXPECT_EQ(form.fieldList->count(), 0);
  EXPECT_EQ(form.previewList->count(), 0);
}

TEST_F(MainWindowTest, HoverKeepsTheHourglassAndClosingEndsTheProgram) {
  MainWindow& form = mainWindow();
  moveMouseOver(form.startButton);
  EXPECT_EQ(form.pointer(), Pointer::Custom);
  moveMouseOver(form.fieldList->viewport());
  EXPECT_EQ(form.pointer(), Pointer::Default);
  form.setPointer(Pointer::Hourglass);
  moveMouseOver(form.switchDatabaseButton);
  EXPECT_EQ(form.pointer(), Pointer::Hourglass);
  EXPECT_EQ(form.tableList->viewport()->cursor().shape(), Qt::WaitCursor);
  form.close();
  EXPECT_EQ(programEnds, 1);
}

TEST_F(MainWindowTest, TabVisitsTheListsTheOperationsAndTheButtons) {
  MainWindow& form = mainWindow();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.tableList->setFocus();
  for (QWidget* next : std::initializer_list<QWidget*>{form.fieldList, form.previewList,
                                                       form.operationBox, form.startButton,
                                                       form.switchDatabaseButton, form.tableList}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
  EXPECT_EQ(form.tableList->accessibleName(), "Table(s)");
  EXPECT_EQ(form.startButton->accessibleName(), "Start Removing");
}

// Each entry of a menu has a letter of its own: a letter two entries share only moves
// between them, and Enter is needed to choose.
TEST_F(MainWindowTest, EveryMenuEntryHasALetterOfItsOwn) {
  MainWindow& form = mainWindow();
  for (QMenu* menu : form.findChildren<QMenu*>()) {
    QStringList letters;
    for (const QAction* action : menu->actions()) {
      const qsizetype at = action->text().indexOf(u'&');
      if (action->isSeparator() || at < 0) continue;
      const QString letter = action->text().mid(at + 1, 1).toLower();
      EXPECT_FALSE(letters.contains(letter)) << action->text().toStdString();
      letters << letter;
    }
  }
}
