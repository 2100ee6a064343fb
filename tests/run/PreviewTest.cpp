// Preview Changes: every value that would change, computed as the run computes it,
// written by nothing until "Apply".
#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

#include "ChangeListModel.h"
#include "ChangePreview.h"
#include "PreviewWindow.h"
#include "ProgressWindow.h"
#include "RunTesting.h"
#include "ScanWindow.h"
#include "VisibleText.h"

namespace {

class PreviewTest : public RunTest {
 protected:
  PreviewWindow* preview(MainWindow& form, QStringView caption, const QStringList& answers = {}) {
    form.operationBox->setCurrentIndex(FindOperation(caption)->position);
    dialogs.queueAnswers(answers);
    form.previewAction->trigger();
    return form.previewWindow();
  }
  static QStringList row(PreviewWindow& window, int row) {
    QStringList texts;
    const QAbstractItemModel* model = window.changeList->model();
    for (int column = 0; column < model->columnCount(); ++column) {
      texts << model->index(row, column).data().toString();
    }
    return texts;
  }
};

}  // namespace

TEST_F(PreviewTest, CountsAndListsEveryChangeWithItsInvisibleCharactersShown) {
  createTable("VARCHAR(8)", {"'a b'", "'ab'", "NULL", "'😀\\t x'", "'1 2 3 4'", "'\\r\\n y'"});
  MainWindow& form = chooseField();
  PreviewWindow* window = preview(form, u"Replace All Spaces in Selected Field With...", {"__"});
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(dialogs.prompts(), QStringList({"Replace With:"}));
  EXPECT_EQ(window->countsText->text(),
            "6 records read: 4 would change, 1 unchanged, 1 null (never written), 0 cannot be "
            "computed, 1 too long for the column (the server would refuse them).");
  ASSERT_EQ(window->changeList->model()->rowCount(), 4);
  EXPECT_EQ(row(*window, 0), QStringList({"1", "a·b", "a__b", ""}));
  EXPECT_EQ(row(*window, 1), QStringList({"4", "😀→·x", "😀→__x", ""}));
  EXPECT_EQ(row(*window, 2),
            QStringList({"5", "1·2·3·4", "1__2__3__4", "too long for the column"}));
  EXPECT_EQ(row(*window, 3), QStringList({"6", "↵¶·y", "↵¶__y", ""}));
  EXPECT_EQ(writes(), 0);

  // Apply says that it writes them all, also while a filter hides some.
  EXPECT_EQ(window->applyButton->text(), "&Apply All 4 Changes");
  window->filterBox->setText("😀");
  // The filter follows the typing once it pauses.
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->changeList->model()->rowCount() == 1; }));
  EXPECT_EQ(window->shownText->text(), "1 of 4 shown");
  EXPECT_FALSE(window->shownText->isHidden());
  {
    const Window::Busy busy(form);
    EXPECT_FALSE(window->applyButton->isEnabled()) << "not while other work goes on";
    EXPECT_FALSE(window->applyButton->toolTip().isEmpty());
  }
  EXPECT_TRUE(window->applyButton->isEnabled());
  window->closeButton->click();
  EXPECT_EQ(writes(), 0) << "Close writes nothing";
}

// A screen reader hears each cell as it shows, control characters marked in keys too.
TEST_F(PreviewTest, EachCellIsHeardAsItShowsWithItsMarks) {
  db.exec(
      "CREATE TABLE t (id VARCHAR(9) PRIMARY KEY, v VARCHAR(20));"
      "INSERT INTO t VALUES (CONCAT('k', CHAR(27)), CONCAT('a ', CHAR(7)))");
  MainWindow& form = chooseField();
  PreviewWindow* window = preview(form, u"Remove All Spaces in Selected Field");
  ASSERT_NE(window, nullptr);
  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(window->changeList);
  ASSERT_NE(table->tableInterface(), nullptr);
  QStringList heard;
  for (int column = 0; column < 3; ++column) {
    heard << table->tableInterface()->cellAt(0, column)->text(QAccessible::Name);
  }
  EXPECT_EQ(heard, QStringList({"k⌧", "a·⌧", "a⌧"}));
  EXPECT_EQ(row(*window, 0).mid(0, 3), heard) << "heard as shown";
}

// Drop-downs are heard by their labels with the chosen entry as their value; blank values
// as NULL or as the empty text; the filter's clear button by its name.
TEST_F(PreviewTest, ScreenReadersHearLabelsValuesAndWhatLooksBlank) {
  createTable("VARCHAR(20)", {"'a b'", "''", "NULL"});
  MainWindow& form = chooseField();
  QAccessibleInterface* operation = QAccessible::queryAccessibleInterface(form.operationBox);
  EXPECT_EQ(operation->text(QAccessible::Name), form.optionsFrame->title());
  EXPECT_EQ(operation->text(QAccessible::Value), form.operationBox->currentText());
  QStringList heard;
  for (int i = 0; i < form.previewList->topLevelItemCount(); ++i) {
    heard << form.previewList->model()->index(i, 0).data(Qt::AccessibleTextRole).toString();
  }
  EXPECT_EQ(heard, QStringList({"", "empty text", "NULL"})) << "a value is heard as it shows";

  PreviewWindow* window = preview(form, u"Remove All Spaces in Selected Field");
  ASSERT_NE(window, nullptr);
  window->filterBox->setText("a");
  QStringList buttons;
  for (QWidget* child : window->filterBox->findChildren<QWidget*>()) {
    if (child->isVisible())
      buttons << QAccessible::queryAccessibleInterface(child)->text(QAccessible::Name);
  }
  EXPECT_TRUE(buttons.contains("Clear the filter")) << buttons.join(", ").toStdString();
}

TEST_F(PreviewTest, ValuesThatCannotBeComputedAreCountedWithTheRunsReason) {
  createTable("VARCHAR(20)", {"'abc'", "NULL"});
  MainWindow& form = chooseField();
  PreviewWindow* window = preview(form, u"Remove First x Character(s) in Selected Field", {"-1"});
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->countsText->text().startsWith(
      "2 records read: 0 would change, 0 unchanged, 0 nulls (never written), 2 cannot be "
      "computed ("))
      << window->countsText->text().toStdString();
  EXPECT_FALSE(window->applyButton->isEnabled());

  dialogs.clear();
  EXPECT_EQ(preview(form, u"Remove First x Character(s) in Selected Field", {"x"}), window)
      << "no new preview after a refused answer";
  EXPECT_EQ(dialogs.messages(), QStringList({"Must enter number"}));
}

TEST_F(PreviewTest, ApplyWritesExactlyThePreviewedChangesAndLeavesRowsChangedSince) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'"});
  MainWindow& form = chooseField();
  PreviewWindow* window = preview(form, u"Remove All Spaces in Selected Field");
  ASSERT_NE(window, nullptr);
  db.exec("UPDATE t SET v = 'x y' WHERE id = 2; INSERT INTO t VALUES (4, 'g h')");
  const int writesBefore = writes();
  window->applyButton->click();
  EXPECT_EQ(values(), Column({text("ab"), text("x y"), text("ef"), text("g h")}));
  EXPECT_EQ(writes() - writesBefore, 2);
  const QString summary = form.progressWindow().summaryText->text();
  EXPECT_TRUE(
      summary.startsWith("Finished: 3 records read, 2 written, 0 unchanged, 0 reported, "
                         "1 changed since the preview (left as they are)"))
      << summary.toStdString();
  EXPECT_EQ(journalRuns().at(0).written, 2) << "applied changes can be undone";
  EXPECT_EQ(entries(form.previewList).at(0), "ab") << "the main preview is refreshed";
}

// Changes taken out before Apply are neither written nor journaled; the button counts them.
TEST_F(PreviewTest, ApplyWritesOnlyTheTickedChanges) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'", "'g h'", "'i j'"});
  MainWindow& form = chooseField();
  PreviewWindow* window = preview(form, u"Remove All Spaces in Selected Field");
  ASSERT_NE(window, nullptr);
  QTableView& list = *window->changeList;
  EXPECT_EQ(list.model()->index(0, 0).data(Qt::CheckStateRole), Qt::Checked);
  // Tab leaves the list for the buttons under it, rather than going from cell to cell.
  QApplication::setActiveWindow(window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  list.setFocus();
  QTest::keyClick(&list, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), window->untickShownButton);
  // Space on two chosen rows, from any column.
  list.setCurrentIndex(list.model()->index(1, 2));
  list.selectionModel()->select(list.model()->index(3, 0),
                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QTest::keyClick(&list, Qt::Key_Space);
  EXPECT_EQ(window->applyButton->text(), "&Apply 3 of 5 Changes");
  EXPECT_EQ(list.model()->index(1, 0).data(Qt::AccessibleDescriptionRole),
            "not ticked: Apply leaves it");
  // The buttons act on the rows shown only.
  window->filterBox->setText("e");
  QTest::qWait(300);
  window->untickShownButton->click();
  EXPECT_EQ(window->applyButton->text(), "&Apply 2 of 5 Changes");
  window->filterBox->clear();
  QTest::qWait(300);
  window->untickShownButton->click();
  EXPECT_FALSE(window->applyButton->isEnabled()) << "nothing to write";
  window->tickShownButton->click();
  EXPECT_EQ(window->applyButton->text(), "&Apply All 5 Changes");
  list.setCurrentIndex(list.model()->index(4, 1));
  list.selectionModel()->select(list.model()->index(4, 0),
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  QTest::keyClick(&list, Qt::Key_Space);
  window->applyButton->click();
  EXPECT_EQ(values(), Column({text("ab"), text("cd"), text("ef"), text("gh"), text("i j")}));
  EXPECT_EQ(journalRuns().at(0).written, 4);
  EXPECT_EQ(journalEntries(journalRuns().at(0).id).size(), 4u);
}

// Run → Rows… narrows previews, runs and values to the rows where a condition holds, says
// so on the status line, in the progress window and in the journal; a scan refuses it.
TEST_F(PreviewTest, ARowConditionNarrowsPreviewsRunsAndValues) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'"});
  MainWindow& form = chooseField();
  dialogs.queueAnswers({"id > 1"});
  form.rowsAction->trigger();
  EXPECT_EQ(form.statusLine->text(), "Only the rows where id > 1.");
  PreviewWindow* window = preview(form, u"Remove All Spaces in Selected Field");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->changeList->model()->rowCount(), 2);
  EXPECT_TRUE(window->whatText->text().endsWith(", on the rows where id > 1"));
  window->close();
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(values(), Column({text("a b"), text("cd"), text("ef")}));
  EXPECT_EQ(form.progressWindow().rowsValue->text(), "where id > 1");
  EXPECT_EQ(journalRuns().at(0).rows, "id > 1");
  EXPECT_TRUE(form.statusLine->text().endsWith("Only the rows where id > 1."));
  // A recipe step added now keeps the condition, and cleans only its rows.
  db.exec("UPDATE t SET v = 'a b' WHERE id = 2");
  form.addToRecipeAction->trigger();
  EXPECT_EQ(form.statusLine->text(),
            "Step 1 of the recipe: remove-all-spaces on t.v, rows where id > 1. Only the rows "
            "where id > 1.");
  form.previewRecipeAction->trigger();
  ASSERT_NE(form.previewWindow(), nullptr);
  form.previewWindow()->applyButton->click();
  EXPECT_EQ(values(), Column({text("a b"), text("ab"), text("ef")}));

  dialogs.clear();
  form.scanDatabaseAction->trigger();
  EXPECT_EQ(dialogs.messages(),
            QStringList({"The row condition is for one table: choose \"Scan This Table…\", or "
                         "empty it (Run → Rows…) to scan the database."}));
  db.exec("UPDATE t SET v = ' a' WHERE id = 1");
  form.scanTableAction->trigger();
  ScanWindow& scan = *form.scanWindow();
  EXPECT_EQ(scan.findingList->topLevelItemCount(), 0) << "row 1 is not among the rows";
  EXPECT_EQ(scan.progressText->text(),
            "0 findings in 1 text column of 1 table, rows where id > 1.");
  scan.close();
  dialogs.queueAnswers({"nope = 2"});
  form.rowsAction->trigger();
  dialogs.clear();
  run(form, u"Remove All Spaces in Selected Field");
  ASSERT_EQ(dialogs.messages().size(), 1);
  EXPECT_TRUE(dialogs.messages()[0].startsWith("The row condition cannot be used: Unknown column"))
      << dialogs.messages()[0].toStdString();
  // The box starts with the condition; a cancel keeps it, an emptied box gives every row.
  form.rowsAction->trigger();
  EXPECT_EQ(dialogs.lastStartText, "nope = 2");
  EXPECT_EQ(form.rowCondition(), "nope = 2");
  dialogs.queueAnswers({""});
  form.rowsAction->trigger();
  EXPECT_EQ(form.statusLine->text(), "Every row.");
}

TEST(VisibleText, MarksEachInvisibleCharacterAndFindsWhatChanged) {
  EXPECT_EQ(WithVisibleMarks(QString::fromUtf16(u"a \t\r\n\u00A0\u2003\u200B\uFEFFb")),
            QString::fromUtf16(u"a·→↵¶⍽␣‸‸b"));
  // Controls, which a terminal would obey: C0, delete and C1 alike.
  const QString controls = QString::fromUtf16(u"\u0001\u0007\u001B[2J\u007F\u009B");
  EXPECT_EQ(WithVisibleMarks(controls), QString::fromUtf16(u"⌧⌧⌧[2J⌧⌧"));
  EXPECT_EQ(WithControlMarks(QString::fromUtf16(u"a b\n\t\u001B")), QString::fromUtf16(u"a b\n→⌧"))
      << "spaces and line breaks of a message stay";
  QByteArray bytes;
  AppendWithVisibleMarks(bytes, QByteArrayView("\x1b[K\x7f\xc2\x9b"));
  EXPECT_EQ(QString::fromUtf8(bytes), QString::fromUtf16(u"⌧[K⌧⌧"));
  const ChangedParts emoji = ChangedPartsOf("a😀b", "a😁b");
  EXPECT_EQ(emoji.before, std::vector<bool>({false, true, true, false}))
      << "a changed character is never cut in two";
  const ChangedParts dropped = ChangedPartsOf("😀😁", "😁");
  EXPECT_EQ(dropped.before, std::vector<bool>({true, true, false, false}))
      << "characters are compared whole, not by halves";
  EXPECT_EQ(dropped.after, std::vector<bool>({false, false}));
  const ChangedParts spread = ChangedPartsOf(" a b ", "a__b");
  EXPECT_EQ(spread.before, std::vector<bool>({true, false, true, false, true}));
  EXPECT_EQ(spread.after, std::vector<bool>({false, true, true, false}));
}
