#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "../support/QStringPrinting.h"
#include "ErrorReport.h"
#include "Form2.h"
#include "ListViewWidget.h"
#include "OperationCatalogue.h"
#include "WindowTesting.h"

namespace {
const QString LoadTag = QStringLiteral("Klarifeld2021/08/31.Form2.Form_Load");
}  // namespace

class MainWindowTest : public testing::Test, public WindowTest {
 protected:
  // The main window, reached through the login window with a working profile.
  Form2& mainWindow() {
    storeWorkingProfile(db.name());
    return start().form2();
  }
};

TEST_F(MainWindowTest, LoadsTheOperationsHeadersAndFirstOperation) {
  Form2& form = mainWindow();
  ASSERT_EQ(form.Combo1->count(), 27);
  for (const CleaningOperation& operation : Catalogue()) {
    EXPECT_EQ(form.Combo1->itemText(operation.position), operation.caption.toString());
  }
  EXPECT_EQ(form.Combo1->currentText(), "Remove All Spaces in Selected Field");
  EXPECT_EQ(form.ListView1->headerItem()->text(0), "Table(s)");
  EXPECT_EQ(form.ListView2->headerItem()->text(0), "Field(s)");
  EXPECT_EQ(form.ListView3->headerItem()->text(0), "First 100 Entries (Preview)");
  EXPECT_EQ(form.ListView1->header()->sectionSize(0), 433);
  EXPECT_EQ(form.ListView3->toolTip(),
            "Move | line to right and out of window to reveal full names.");
  EXPECT_EQ(form.windowTitle(), "Klarifeld");
  EXPECT_EQ(form.size(), QSize(512, 459));
  EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(MainWindowTest, APickedOperationIsRestoredAtTheNextStart) {
  Form2& form = mainWindow();
  form.Combo1->setCurrentIndex(7);
  emit form.Combo1->activated(7);
  EXPECT_EQ(settings.read("Combo1", ""), "7");
}

TEST_F(MainWindowTest, StoredOperationRules) {
  settings.write("Combo1", "7");
  EXPECT_EQ(mainWindow().Combo1->currentText(), "Remove Tabs in Selected Field");
}

TEST_F(MainWindowTest, StoredMinusOneSelectsNothingSilently) {
  settings.write("Combo1", "-1");
  EXPECT_EQ(mainWindow().Combo1->currentIndex(), -1);
  EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(MainWindowTest, StoredNumbersThatAreNoPositionAreReportedOnLine166) {
  for (const char* stored : {"27", "abc", "-2", "40000"}) {
    settings.write("Combo1", stored);
    dialogs.clear();
    Form2 form(login(), dialogs, settings);
    form.Form_Load();
    EXPECT_EQ(form.Combo1->currentIndex(), -1) << stored;
    ASSERT_EQ(dialogs.messages().size(), 1) << stored;
    EXPECT_TRUE(dialogs.messages()[0].endsWith(ErrorReportText("", LoadTag, 166)));
    EXPECT_EQ(form.ListView3->headerItem()->text(0), "First 100 Entries (Preview)");
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
  Form2& form = mainWindow();
  ASSERT_EQ(entries(form.ListView1), QStringList({"empty_t", "t100", "t101", "t5000", "we`ird"}));

  clickEntry(form.ListView1, 0);
  EXPECT_EQ(entries(form.ListView2), QStringList({"a", "b"}));
  EXPECT_EQ(form.ListView2->selectedText(), "a");
  EXPECT_EQ(form.ListView3->count(), 0);

  clickEntry(form.ListView1, 1);
  EXPECT_EQ(entries(form.ListView2), QStringList({"n", "v"}));
  EXPECT_EQ(form.ListView3->count(), 100);
  clickEntry(form.ListView2, 1);
  EXPECT_EQ(form.ListView2->selectedText(), "v");
  EXPECT_EQ(form.ListView3->topLevelItem(0)->text(0), "v1");
  EXPECT_EQ(form.ListView3->topLevelItem(9)->text(0), "") << "a null shows empty";

  clickEntry(form.ListView1, 2);
  EXPECT_EQ(form.ListView3->count(), 101);
  clickEntry(form.ListView1, 3);
  EXPECT_EQ(form.ListView3->count(), 101);
  clickEntry(form.ListView1, 4);
  EXPECT_EQ(entries(form.ListView2), QStringList({"f`1"}));
  EXPECT_EQ(entries(form.ListView3), QStringList({"odd"}));
  EXPECT_TRUE(dialogs.shown().empty());
  EXPECT_EQ(form.pointer(), Pointer::Default);
}

// Otherwise the field list would still show the last table's fields, and a run would
// take the field at that position in the newly selected table.
TEST_F(MainWindowTest, TheKeyboardPicksTablesAndFieldsLikeAClick) {
  db.exec(
      "CREATE TABLE t1 (a INT, b INT); INSERT INTO t1 VALUES (1, 2);"
      "CREATE TABLE t2 (x INT, y INT, z INT); INSERT INTO t2 VALUES (7, 8, 9)");
  Form2& form = mainWindow();
  clickEntry(form.ListView1, 0);
  QTest::keyClick(form.ListView1, Qt::Key_Down);
  EXPECT_EQ(entries(form.ListView2), QStringList({"x", "y", "z"}));
  EXPECT_EQ(entries(form.ListView3), QStringList({"7"}));
  QTest::keyClick(form.ListView2, Qt::Key_End);
  EXPECT_EQ(entries(form.ListView3), QStringList({"9"}));
  EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(MainWindowTest, ATableDroppedMeanwhileIsReportedAndThePointerRestored) {
  db.exec("CREATE TABLE gone (x INT)");
  Form2& form = mainWindow();
  db.exec("DROP TABLE gone");
  clickEntry(form.ListView1, 0);
  const QStringList shown = dialogs.messages();
  ASSERT_FALSE(shown.isEmpty());
  EXPECT_TRUE(shown[0].startsWith("Table '" + db.name() +
                                  ".gone' doesn't exist\r\n"
                                  "in Klarifeld2021/08/31.Form2.ListView1_Click at line 110"));
  EXPECT_EQ(form.pointer(), Pointer::Default);
}

TEST_F(MainWindowTest, SwitchingBackAndForthKeepsTheLists) {
  db.exec("CREATE TABLE s (n INT); CREATE TABLE t (a INT, b INT); INSERT INTO t VALUES (1, 2)");
  Form2& form = mainWindow();
  clickEntry(form.ListView1, 1);
  form.Combo1->setCurrentIndex(3);
  QTest::mouseClick(form.PushButton3, Qt::LeftButton);
  Form1& login = this->login();
  EXPECT_TRUE(login.isVisible());
  EXPECT_FALSE(form.isVisible());
  QTest::mouseClick(login.PushButton3, Qt::LeftButton);
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(login.isVisible());
  EXPECT_EQ(entries(form.ListView1), QStringList({"s", "t"})) << "listed once, not twice";
  EXPECT_EQ(form.ListView1->selectedText(), "t");
  EXPECT_EQ(entries(form.ListView2), QStringList({"a", "b"}));
  EXPECT_EQ(entries(form.ListView3), QStringList({"1"}));
  EXPECT_EQ(form.Combo1->currentIndex(), 3);
  EXPECT_EQ(form.Combo1->count(), 27) << "loaded once";
}

// The fields and preview belong to a table; where it is no longer listed, they go too.
TEST_F(MainWindowTest, ADatabaseWithoutTheTableEmptiesItsFields) {
  db.exec("CREATE TABLE t (a INT); INSERT INTO t VALUES (1)");
  ScratchDatabase other(db.name() + "2");
  other.exec("CREATE TABLE u (a INT)");
  Form2& form = mainWindow();
  clickEntry(form.ListView1, 0);
  QTest::mouseClick(form.PushButton3, Qt::LeftButton);
  login().Text4->setText(other.name());
  QTest::mouseClick(login().PushButton3, Qt::LeftButton);
  EXPECT_EQ(entries(form.ListView1), QStringList({"u"}));
  EXPECT_EQ(form.ListView2->count(), 0);
  EXPECT_EQ(form.ListView3->count(), 0);
}

TEST_F(MainWindowTest, HoverKeepsTheHourglassAndClosingEndsTheProgram) {
  Form2& form = mainWindow();
  moveMouseOver(form.PushButton2);
  EXPECT_EQ(form.pointer(), Pointer::Custom);
  moveMouseOver(form.ListView2->viewport());
  EXPECT_EQ(form.pointer(), Pointer::Default);
  form.setPointer(Pointer::Hourglass);
  moveMouseOver(form.PushButton3);
  EXPECT_EQ(form.pointer(), Pointer::Hourglass);
  EXPECT_EQ(form.ListView1->viewport()->cursor().shape(), Qt::WaitCursor);
  form.close();
  EXPECT_EQ(programEnds, 1);
}

TEST_F(MainWindowTest, TabVisitsTheListsTheOperationsAndTheButtons) {
  Form2& form = mainWindow();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.ListView1->setFocus();
  for (QWidget* next :
       std::initializer_list<QWidget*>{form.ListView2, form.ListView3, form.Combo1,
                                       form.PushButton2, form.PushButton3, form.ListView1}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
  EXPECT_EQ(form.ListView1->accessibleName(), "Table(s)");
  EXPECT_EQ(form.PushButton2->accessibleName(), "Start Removing");
}
