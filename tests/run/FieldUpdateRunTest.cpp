#include <QAccessible>
#include <QLabel>
#include <QProgressBar>

#include "ProgressWindow.h"
#include "RunTesting.h"

namespace {
const QString Find = QStringLiteral("Find What:");
const QString ReplaceWith = QStringLiteral("Replace With:");
const QString EnterNumber = QStringLiteral("Enter Number:");
}  // namespace

using FieldUpdateRunTest = RunTest;

struct OperationCase {
  int position;
  QStringList answers;
  const char* before;
  const char* after;
};

// Names a case by its position, not by its bytes.
void PrintTo(const OperationCase& c, std::ostream* out) {
  *out << "position " << c.position;
}

class EveryOperation : public FieldUpdateRunTest,
                       public testing::WithParamInterface<OperationCase> {};

// Each operation on a value that it changes, an empty value and a null; only the first
// is written, and the database holds the result.
TEST_P(EveryOperation, WritesTheChangedValueOnly) {
  const OperationCase& c = GetParam();
  createTable("TEXT", {"'" + QString(c.before).replace("'", "''") + "'", "''", "NULL"});
  MainWindow& form = chooseField();
  run(form, Catalogue()[c.position].caption, c.answers);
  EXPECT_EQ(values(), Column({text(c.after), text(""), std::nullopt}));
  EXPECT_EQ(writes(), 1);
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(form.previewList->selectedText(), QString::fromUtf8(c.after))
      << "the preview is refreshed";
  EXPECT_EQ(form.pointer(), Pointer::Default);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, EveryOperation,
    testing::Values(
        OperationCase{0, {}, " a b ", "ab"}, OperationCase{1, {"_"}, "a b", "a_b"},
        OperationCase{2, {}, "  a ", "a "}, OperationCase{3, {}, "  a ", "  a"},
        OperationCase{4, {}, "  a   b ", "a b"}, OperationCase{5, {}, "a\r\nb", "a  b"},
        OperationCase{6, {"|"}, "a\r\nb", "a||b"}, OperationCase{7, {}, "a\tb", "ab"},
        OperationCase{8, {"->"}, "a\tb", "a->b"}, OperationCase{9, {}, "ab1é", "1é"},
        OperationCase{10, {"x"}, "ab1", "xx1"}, OperationCase{11, {}, "a1b2", "ab"},
        OperationCase{12, {"#"}, "a1", "a#"}, OperationCase{13, {}, "a-1 b", "- "},
        OperationCase{14, {"*"}, "a-1", "*-*"}, OperationCase{15, {}, "a b-1", "ab1"},
        OperationCase{16, {"_"}, "a b-1", "a b_1"}, OperationCase{17, {"ab"}, "aabb", "ab"},
        OperationCase{18, {"aa", "b"}, "aaa", "ba"}, OperationCase{19, {"="}, "k=v=w", "k="},
        OperationCase{20, {"=", "X"}, "k=v", "k=X"}, OperationCase{21, {"="}, "k=v", "=v"},
        OperationCase{22, {"=", "X"}, "k=v", "X=v"}, OperationCase{23, {"2"}, "abcdef", "cdef"},
        OperationCase{24, {"2"}, "abcdef", "abcd"}, OperationCase{25, {"3"}, "abcdef", "abc"},
        OperationCase{26, {"3"}, "abcdef", "def"},
        OperationCase{27, {R"((\w+)@(\w+))", "$2 at $1"}, "ann@db", "db at ann"},
        OperationCase{28, {}, "  a b  ", "a b"}, OperationCase{29, {}, "straße", "STRASSE"},
        OperationCase{30, {}, "ÀB", "àb"}, OperationCase{31, {}, "a\u00A0b", "a b"},
        OperationCase{32, {}, "a\u200Bb\x01", "ab"}),
    [](const testing::TestParamInfo<OperationCase>& info) {
      return "Position" + std::to_string(info.param.position);
    });

TEST_F(FieldUpdateRunTest, ASecondRunWritesNothing) {
  createTable("VARCHAR(20)", {"'a b'", "'c'", "' d '", "NULL", "'A B'"});
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(writes(), 3);
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(writes(), 3);
  EXPECT_EQ(values(), Column({text("ab"), text("c"), text("d"), std::nullopt, text("AB")}));
}

TEST_F(FieldUpdateRunTest, AnEmptyFieldListAsksToSelectAField) {
  createTable("TEXT", {"'a b'"});
  storeWorkingProfile(db.name());
  MainWindow& form = start().mainWindow();
  run(form, u"Remove All Spaces in Selected Field");
  const std::vector<ShownBox> expected = {
      {ShownBox::Kind::Message, "Klarifeld", "Please select a field.", BoxIcon::None}};
  EXPECT_EQ(dialogs.shown(), expected);
  EXPECT_EQ(values(), Column({text("a b")}));
}

TEST_F(FieldUpdateRunTest, ATableWithoutRecordsAsksNothing) {
  createTable("TEXT", {});
  MainWindow& form = chooseField();
  form.previewList->addItem("stale");
  run(form, u"Replace Tabs in Selected Field With...", {"x"});
  EXPECT_TRUE(dialogs.shown().empty());
  EXPECT_EQ(form.previewList->count(), 0);
}

TEST_F(FieldUpdateRunTest, NoSelectedOperationChangesNothingButRefreshes) {
  createTable("TEXT", {"'a b'"});
  MainWindow& form = chooseField();
  form.previewList->clear();
  form.operationBox->setCurrentIndex(-1);
  QTest::mouseClick(form.startButton, Qt::LeftButton);
  EXPECT_EQ(writes(), 0);
  EXPECT_EQ(entries(form.previewList), QStringList({"a b"}));
}

TEST_F(FieldUpdateRunTest, EmptyOrCancelledAnswersEndTheOperation) {
  createTable("TEXT", {"'a\tb ab'"});
  MainWindow& form = chooseField();
  run(form, u"Replace Tabs in Selected Field With...", {});
  run(form, u"Replace Tabs in Selected Field With...", {""});
  run(form, u"Remove User-Defined Character(s) in Selected Field", {""});
  run(form, u"Replace User-Defined Character(s) in Selected Field With...", {"", "x"});
  EXPECT_EQ(dialogs.prompts(),
            QStringList(
                {ReplaceWith, ReplaceWith, "Enter User-Defined Character(s):", Find, ReplaceWith}));
  EXPECT_EQ(writes(), 0);
  EXPECT_TRUE(dialogs.messages().isEmpty()) << "no box says it";
  EXPECT_EQ(form.statusLine->text(), "Nothing was changed: the answer was empty.");
  // An empty second answer replaces by nothing.
  run(form, u"Replace User-Defined Character(s) in Selected Field With...", {"ab", ""});
  EXPECT_EQ(values(), Column({text("a\tb ")}));
  run(form, u"Remove User-Defined Character(s) in Selected Field", {" "});
  EXPECT_EQ(values(), Column({text("a\tb")}));
  EXPECT_EQ(form.statusLine->text(), "") << "a run clears it";
}

TEST_F(FieldUpdateRunTest, NumberAnswers) {
  createTable("TEXT", {"'abcdefgh'"});
  MainWindow& form = chooseField();
  run(form, u"Remove First x Character(s) in Selected Field", {"abc"});
  run(form, u"Remove First x Character(s) in Selected Field", {});
  const ShownBox mustEnter{ShownBox::Kind::Message, "Klarifeld", "Must enter number",
                           BoxIcon::None};
  EXPECT_EQ(dialogs.shown()[1], mustEnter);
  EXPECT_EQ(dialogs.shown()[3], mustEnter);
  EXPECT_EQ(dialogs.shown().size(), 4u);
  run(form, u"Remove First x Character(s) in Selected Field", {"2.5"});
  EXPECT_EQ(values(), Column({text("cdefgh")}));
  run(form, u"Remove First x Character(s) in Selected Field", {"3.5"});
  EXPECT_EQ(values(), Column({text("gh")}));
}

TEST_F(FieldUpdateRunTest, ARefusedNumberIsReportedForEveryRecord) {
  createTable("TEXT", {"'abc'", "NULL", "'de'"});
  MainWindow& form = chooseField();
  run(form, u"Remove First x Character(s) in Selected Field", {"40000"});
  EXPECT_EQ(dialogs.messages(), reports("Overflow", 564, {1, 2, 3}));
  dialogs.clear();
  run(form, u"Remove All Text After x Position in Field", {"-1"});
  EXPECT_EQ(dialogs.messages(), reports("Invalid procedure call or argument", 612, {1, 2, 3}));
  EXPECT_EQ(writes(), 0);
  EXPECT_EQ(values(), Column({text("abc"), std::nullopt, text("de")}));
}

// A pattern that cannot be used is refused before any record is read; a value on which it
// backtracks without end is reported and kept, and the run goes on.
TEST_F(FieldUpdateRunTest, RegularExpressions) {
  createTable("TEXT", {"'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!'", "'aa'"});
  MainWindow& form = chooseField();
  const QString regex =
      QStringLiteral("Replace Text Matching a Regular Expression in Selected Field With...");
  run(form, regex, {"(ab", "x"});
  EXPECT_EQ(dialogs.prompts(), QStringList({"Regular Expression:", ReplaceWith}));
  EXPECT_EQ(dialogs.messages(),
            QStringList({"Invalid regular expression at offset 3: missing closing parenthesis"}));
  run(form, regex, {"", "x"});
  EXPECT_EQ(dialogs.messages().size(), 1) << "an empty pattern ends the operation quietly";
  dialogs.clear();
  run(form, regex, {"(a+)+$", "x"});
  EXPECT_EQ(dialogs.messages(),
            QStringList({report("The regular expression takes too many steps on this value "
                                "(match limit exceeded), so the value was left as it was.",
                                1010, 1)}));
  EXPECT_EQ(values(), Column({text("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!"), text("x")}));
}

// A screen reader hears every value that the progress window shows, the summary included.
TEST_F(FieldUpdateRunTest, EveryValueOfTheProgressWindowIsHeard) {
  createTable("TEXT", {"'a b'", "'c'"});
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  int heard = 0;
  for (const QLabel* label : form.progressWindow().findChildren<QLabel*>()) {
    if (label->isHidden() || label->text().isEmpty()) continue;
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(const_cast<QLabel*>(label))->text(QAccessible::Name),
        label->text())
        << label->objectName().toStdString();
    ++heard;
  }
  EXPECT_GE(heard, 6);
  // The bar is heard as how far, out of the total that the run took in as it went.
  QAccessibleInterface* bar =
      QAccessible::queryAccessibleInterface(form.progressWindow().progressBar);
  EXPECT_EQ(bar->text(QAccessible::Name), "Records done");
  EXPECT_EQ(bar->valueInterface()->currentValue().toInt(), 2);
  EXPECT_EQ(bar->valueInterface()->maximumValue().toInt(), 2);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(form.progressWindow().summaryText)
                ->text(QAccessible::Description),
            "Summary");
}

// A flood of reports is one box: the rest go to the summary, counted, with their first records.
TEST_F(FieldUpdateRunTest, TheRestOfTheReportsCanGoToTheSummary) {
  createTable("TEXT", {"'abc'", "'de'", "'f'", "'gh'", "'ij'"});
  MainWindow& form = chooseField();
  dialogs.reportAnswer = ReportAnswer::ReportRest;
  run(form, u"Remove First x Character(s) in Selected Field", {"40000"});
  EXPECT_EQ(dialogs.messages(), QStringList({report("Overflow", 564, 1)}));
  const QString summary = form.progressWindow().summaryText->text();
  EXPECT_TRUE(summary.startsWith("Finished: 5 records read, 0 written, 0 unchanged, 5 reported. "));
  EXPECT_TRUE(summary.endsWith(
      "\n4 × Overflow — Record 2 (id = 2). Record 3 (id = 3). Record 4 (id = 4). …"))
      << summary.toStdString();
}

TEST_F(FieldUpdateRunTest, TwinRowsOfATableWithoutKeyAreEachWrittenOnce) {
  db.exec(
      "CREATE TABLE t (name VARCHAR(10), v VARCHAR(10));"
      "INSERT INTO t VALUES ('x', 'a b'), ('x', 'a b'), ('x', 'A B'), ('y', NULL)");
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY BINARY v"),
            Column({std::nullopt, text("AB"), text("ab"), text("ab")}));
  EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(FieldUpdateRunTest, AValueChangedMeanwhileIsReportedAndKept) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'"});
  MainWindow& form = chooseField();
  dialogs.onInput = [&](const QString&) { db.exec("UPDATE t SET v = 'C D' WHERE id = 2"); };
  run(form, u"Replace All Spaces in Selected Field With...", {"_"});
  EXPECT_EQ(dialogs.messages(),
            QStringList({report("Row cannot be located for updating. Some values may have been "
                                "changed since it was last read.",
                                158, 2)}));
  EXPECT_EQ(values(), Column({text("a_b"), text("C D"), text("e_f")}));
  EXPECT_EQ(entries(form.previewList), QStringList({"a_b", "C D", "e_f"}));
}

TEST_F(FieldUpdateRunTest, AValueTooLongIsRefusedAndTheRecordKept) {
  createTable("VARCHAR(5)", {"'a b c'", "'d e'"});
  MainWindow& form = chooseField();
  run(form, u"Replace All Spaces in Selected Field With...", {"__"});
  ASSERT_EQ(dialogs.messages().size(), 1);
  EXPECT_EQ(dialogs.messages()[0], report("Data too long for column 'v' at row 1", 158, 1));
  EXPECT_EQ(values(), Column({text("a b c"), text("d__e")}));
}

TEST_F(FieldUpdateRunTest, HalfACharacterIsRefusedNotStoredAsAQuestionMark) {
  createTable("VARCHAR(20)", {"'😀ab'", "'xyz'"});
  MainWindow& form = chooseField();
  run(form, u"Remove First x Character(s) in Selected Field", {"1"});
  EXPECT_EQ(dialogs.messages(),
            QStringList({report("The new value would cut a character in two (such as an emoji), so "
                                "the record was left as it was.",
                                570, 1)}));
  EXPECT_EQ(values(), Column({text("😀ab"), text("yz")}));
}

TEST_F(FieldUpdateRunTest, AFieldListOutOfStepWithTheTableWritesNothing) {
  createTable("VARCHAR(20)", {"'a b'"});
  MainWindow& form = chooseField();
  db.exec("ALTER TABLE t ADD COLUMN w VARCHAR(20) DEFAULT 'c d' AFTER id");
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(dialogs.messages(),
            QStringList({report("The field list no longer matches the table. Click the table to "
                                "list its fields again.",
                                116)}));
  EXPECT_EQ(writes(), 0);
  EXPECT_EQ(entries(form.previewList), QStringList({"a b"})) << "the preview still refreshes";
  dialogs.clear();
  form.fieldList->clearSelection();
  run(form, u"Remove All Spaces in Selected Field");
  const QString noField = QStringLiteral("Object variable or With block variable not set");
  EXPECT_EQ(dialogs.messages(), QStringList({report(noField, 116), report(noField, 652)}));
  EXPECT_EQ(writes(), 0);
}

// The first write finds the connection gone: reported once, and the run ends there.
TEST_F(FieldUpdateRunTest, TheServerGoingAwayIsReportedOnceAndEndsTheRun) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'"});
  MainWindow& form = chooseField();
  dialogs.onInput = [&](const QString&) {
    for (const auto& id : db.column("SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '" +
                                    db.name() + "' AND ID <> CONNECTION_ID()")) {
      // A connection that was closing by itself may be gone before its KILL arrives.
      db.exec("BEGIN NOT ATOMIC DECLARE CONTINUE HANDLER FOR 1094 BEGIN END; KILL CONNECTION " +
              QString::fromUtf8(*id) + "; END");
    }
  };
  run(form, u"Replace All Spaces in Selected Field With...", {"_"});
  const QStringList shown = dialogs.messages();
  ASSERT_EQ(shown.size(), 1) << shown.join("\n").toStdString();
  // The record's key was learnt before the link went, and names it.
  EXPECT_TRUE(shown[0].endsWith(report("", 158, 1))) << shown[0].toStdString();
  EXPECT_EQ(form.pointer(), Pointer::Default);
  EXPECT_EQ(values(), Column({text("a b"), text("c d")}));
  EXPECT_EQ(entries(form.previewList), QStringList({"a b", "c d"})) << "kept as it was";
}
