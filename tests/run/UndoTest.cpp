// Every write can be taken back: the journal keeps the old values, even when the program
// is killed or the link breaks, and an undo puts them back where the run's values stand.
#include <signal.h>

#include <QLabel>
#include <QProcess>

#include "HistoryWindow.h"
#include "ProgressWindow.h"
#include "RunJournal.h"
#include "RunTesting.h"

namespace {

const char* ChildDatabase = "KLARIFELD_KILLED_RUN_DATABASE";

class UndoTest : public RunTest {
 protected:
  qint64 newestRun() const { return journalRuns().at(0).id; }
  QString summary(MainWindow& form) const { return form.progressWindow().summaryText->text(); }
  Column columnOf(const QString& sql) const { return db.column(sql); }
};

}  // namespace

TEST_F(UndoTest, PutsBackEveryByteOfTextAndBinaryValues) {
  createTable("VARCHAR(40) CHARACTER SET utf8mb4", {"'😀 a\\tb '", "''", "NULL", "' é '", "'same'"});
  const Column before = values();
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  ASSERT_NE(values(), before);
  form.undoRun(newestRun());
  EXPECT_EQ(values(), before);
  EXPECT_EQ(entries(form.previewList).at(0), "😀 a\tb ") << "the preview shows the values back";
  EXPECT_TRUE(summary(form).startsWith("Finished: 2 records read, 2 written"))
      << summary(form).toStdString();

  db.exec("DROP TABLE t; DROP TABLE writes");
  createTable("VARBINARY(10)", {"x'2000ff20'", "x'00'"});
  const Column binary = values();
  run(form, u"Remove All Spaces in Selected Field");
  form.undoRun(newestRun());
  EXPECT_EQ(values(), binary);
}

TEST_F(UndoTest, FindsTwinRowsOfATableWithoutKeyByTheWholeRowAsWritten) {
  db.exec(
      "CREATE TABLE t (v VARCHAR(20), w INT);"
      "INSERT INTO t VALUES ('a b', 1), ('a b', 1), ('c d', 2), ('c  d', 2)");
  storeWorkingProfile(db.name());
  MainWindow& form = start().mainWindow();
  clickEntry(form.tableList, entries(form.tableList).indexOf("t"));
  clickEntry(form.fieldList, 0);
  const Column before = columnOf("SELECT v FROM t ORDER BY w, v");
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(columnOf("SELECT v FROM t ORDER BY w, v"),
            Column({text("ab"), text("ab"), text("cd"), text("cd")}));
  form.undoRun(newestRun());
  EXPECT_EQ(columnOf("SELECT v FROM t ORDER BY w, v"), before);
}

TEST_F(UndoTest, LeavesValuesChangedSinceAndCountsRowsGone) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'", "'g h'"});
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  db.exec(
      "UPDATE t SET v = 'mine' WHERE id = 1; DELETE FROM t WHERE id = 2;"
      "UPDATE t SET v = 'e f' WHERE id = 3");
  form.undoRun(newestRun());
  EXPECT_EQ(values(), Column({text("mine"), text("e f"), text("g h")}));
  EXPECT_EQ(summary(form).left(summary(form).lastIndexOf(". ")),
            "Finished: 4 records read, 1 written, 1 unchanged, 0 reported, 1 changed since the "
            "run (left as they are), 1 row gone");
  EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join("\n").toStdString();
}

TEST_F(UndoTest, AnUndoIsJournaledAndCanItselfBeUndone) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'"});
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  const qint64 cleaning = newestRun();
  form.undoRun(cleaning);
  const qint64 undo = newestRun();
  EXPECT_EQ(values(), Column({text("a b"), text("c d")}));
  form.undoRun(undo);
  EXPECT_EQ(values(), Column({text("ab"), text("cd")}));

  const std::vector<JournalRun> runs = journalRuns();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[2].undoneBy, undo);
  EXPECT_EQ(runs[1].undoes, cleaning);
  EXPECT_EQ(runs[1].undoneBy, runs[0].id);
  dialogs.clear();
  form.undoRun(cleaning);
  EXPECT_EQ(dialogs.messages(),
            QStringList({QString("This run was undone already, by run %1.").arg(undo)}));
}

// Rows that another client gave the run's values before the run could write them were
// not written by the run: its undo leaves them, grouped (keyed) or row by row (keyless).
TEST_F(UndoTest, UndoTouchesOnlyTheRowsTheRunWrote) {
  for (const char* key : {"PRIMARY KEY", ""}) {
    SCOPED_TRACE(*key ? "keyed" : "keyless");
    db.exec(QString("DROP TABLE IF EXISTS t; CREATE TABLE t (id INT %1, v VARCHAR(20));"
                    "INSERT INTO t VALUES (1, 'a b'), (2, 'c d'), (3, 'e f'), (4, 'g h')")
                .arg(key));
    MainWindow& form = chooseField();
    dialogs.onInput = [&](const QString&) {
      db.exec("UPDATE t SET v = REPLACE(v, ' ', '_') WHERE id IN (1, 3)");
    };
    run(form, u"Replace All Spaces in Selected Field With...", {"_"});
    dialogs.onInput = nullptr;
    const qint64 cleaning = newestRun();
    EXPECT_EQ(journalEntries(cleaning).size(), 2u);
    EXPECT_EQ(journalRuns().at(0).written, 2);

    form.undoRun(cleaning);
    EXPECT_EQ(values(), Column({text("a_b"), text("c d"), text("e_f"), text("g h")}));
    EXPECT_EQ(journalRuns().at(1).undoneBy, newestRun());
  }
}

// An undo that found some old values back already (put back by hand) wrote only the
// others, and only those are taken back again by undoing the undo.
TEST_F(UndoTest, UndoingAnUndoRewritesOnlyTheRowsTheUndoWrote) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'", "'g h'"});
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  const qint64 cleaning = newestRun();
  db.exec("UPDATE t SET v = 'a b' WHERE id = 1; UPDATE t SET v = 'c d' WHERE id = 2");
  form.undoRun(cleaning);
  const qint64 undo = newestRun();
  EXPECT_EQ(journalEntries(undo).size(), 2u);
  EXPECT_EQ(journalRuns().at(1).undoneBy, undo) << "every row holds its old value again";

  form.undoRun(undo);
  EXPECT_EQ(values(), Column({text("a b"), text("c d"), text("ef"), text("gh")}));
}

// An undo that could not put every row back leaves the run open for another undo, and
// History says how far it got.
TEST_F(UndoTest, APartUndoneRunCanBeUndoneAgain) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'", "'g h'"});
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  const qint64 cleaning = newestRun();
  db.exec("UPDATE t SET v = 'mine' WHERE id = 2");
  form.undoRun(cleaning);
  JournalRun undone = journalRuns().at(1);
  EXPECT_EQ(undone.undoneBy, 0);
  EXPECT_EQ(JournalUndoneText(undone), "partly undone (3 of 4)");

  db.exec("UPDATE t SET v = 'cd' WHERE id = 2");
  dialogs.clear();
  form.undoRun(cleaning);
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(values(), Column({text("a b"), text("c d"), text("e f"), text("g h")}));
  undone = journalRuns().at(2);
  EXPECT_EQ(undone.undoneBy, newestRun());
  EXPECT_EQ(JournalUndoneText(undone), QString("undone by run %1").arg(newestRun()));
  undone.damaged = true;  // its spool was damaged: whatever the undo did, some is lost
  EXPECT_EQ(JournalUndoneText(undone),
            QString("undone by run %1; some old values lost").arg(newestRun()));
}

// A trigger that changes values on their way in: the journal keeps what the rows hold,
// so the undo finds its rows (and the trigger has its say on the old values too).
TEST_F(UndoTest, ARunThroughAValueChangingTriggerIsUndone) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e'"});
  db.exec("CREATE TRIGGER shouting BEFORE UPDATE ON t FOR EACH ROW SET NEW.v = UPPER(NEW.v)");
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(values(), Column({text("AB"), text("CD"), text("e")}));
  const std::vector<JournalEntry> journaled = journalEntries(newestRun());
  ASSERT_EQ(journaled.size(), 2u);
  EXPECT_EQ(journaled[0].after, QByteArray("AB"));

  form.undoRun(newestRun());
  EXPECT_EQ(values(), Column({text("A B"), text("C D"), text("e")}));
  EXPECT_TRUE(summary(form).startsWith("Finished: 2 records read, 2 written"))
      << summary(form).toStdString();
}

TEST_F(UndoTest, HistoryListsTheRunsAndUndoesTheChosenOne) {
  createTable("VARCHAR(20)", {"'a b'"});
  MainWindow& form = chooseField();
  run(form, u"Replace All Spaces in Selected Field With...", {"_"});
  EXPECT_TRUE(summary(form).endsWith("\nRun 1 — Run → History… takes it back."))
      << summary(form).toStdString();
  form.historyAction->trigger();
  HistoryWindow& history = *form.historyWindow();
  ASSERT_EQ(history.runList->topLevelItemCount(), 1);
  const QTreeWidgetItem* listed = history.runList->topLevelItem(0);
  EXPECT_EQ(listed->text(1), db.name() + ".t.v");
  EXPECT_EQ(listed->text(2), "Replace All Spaces in Selected Field With... \"_\"");
  EXPECT_EQ(listed->text(3), "1");
  EXPECT_EQ(listed->text(4), "finished");
  EXPECT_TRUE(history.keptText->text().contains("It keeps runs for 90 days, and at most 1.0 GiB"))
      << history.keptText->text().toStdString();
  dialogs.clear();
  QTest::mouseClick(history.undoButton, Qt::LeftButton);
  EXPECT_EQ(values(), Column({text("a b")}));
  ASSERT_FALSE(dialogs.shown().empty());
  EXPECT_EQ(dialogs.shown().front().text,
            "Undo run 1?\nReplace All Spaces in Selected Field With... \"_\"\non " + db.name() +
                ".t.v: 1 row written.\nEach old value goes back where the run's value still "
                "stands; values changed since are left.");
  ASSERT_EQ(history.runList->topLevelItemCount(), 2);
  EXPECT_EQ(history.runList->topLevelItem(1)->text(5), "undone by run 2");
  history.runList->setCurrentItem(history.runList->topLevelItem(1));
  QTest::mouseClick(history.deleteButton, Qt::LeftButton);
  EXPECT_EQ(history.runList->topLevelItemCount(), 1);
  // Opened again after another run, the list starts at the newest.
  history.runList->setCurrentItem(history.runList->topLevelItem(0));
  run(form, u"Replace All Spaces in Selected Field With...", {"-"});
  form.historyAction->trigger();
  EXPECT_EQ(history.chosenRun(), 3);
}

// Run in a child process by the test below, which kills it mid-run.
TEST_F(UndoTest, ChildRunsUntilKilled) {
  const QString database = qEnvironmentVariable(ChildDatabase);
  if (database.isEmpty()) GTEST_SKIP() << "only as the child of KilledMidRun";
  qputenv("XDG_DATA_HOME", qgetenv("KLARIFELD_KILLED_RUN_DATA"));
  storeWorkingProfile(database);
  MainWindow& form = start().mainWindow();
  clickEntry(form.tableList, entries(form.tableList).indexOf("t"));
  clickEntry(form.fieldList, 1);
  run(form, u"Remove All Spaces in Selected Field");
  ADD_FAILURE() << "the run ended before it was killed";
}

TEST_F(UndoTest, TheJournalHoldsEveryChangedRowAfterTheProgramIsKilled) {
  constexpr int Rows = 200000;  // several chunks, so that the kill comes between them
  db.exec(
      "CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(20));"
      "INSERT INTO t SELECT seq, CONCAT('r ', seq) FROM seq_1_to_" +
      QString::number(Rows));
  QProcess child;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(ChildDatabase, db.name());
  environment.insert("KLARIFELD_KILLED_RUN_DATA", dataHome.path());
  child.setProcessEnvironment(environment);
  child.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=UndoTest.ChildRunsUntilKilled"});
  ASSERT_TRUE(child.waitForStarted());
  QElapsedTimer waited;
  waited.start();
  while (db.column("SELECT COUNT(*) FROM t WHERE v NOT LIKE '% %'")[0]->toInt() < 2000) {
    ASSERT_LT(waited.elapsed(), 60000) << "the child wrote too little";
    QTest::qWait(10);
  }
  ::kill(pid_t(child.processId()), SIGKILL);
  child.waitForFinished();

  const Column changed = db.column("SELECT id FROM t WHERE v NOT LIKE '% %' ORDER BY id");
  ASSERT_LT(int(changed.size()), Rows) << "the run finished before it was killed";
  // History counts what the killed run wrote; only the chunk under way can be in doubt.
  const JournalRun killed = journalRuns().at(0);
  EXPECT_LE(killed.written, qint64(changed.size()));
  EXPECT_GE(killed.written + killed.inDoubt, qint64(changed.size()));
  std::map<QByteArray, JournalEntry> journaled;
  for (const JournalEntry& entry : journalEntries(newestRun())) {
    journaled[*entry.identity.at(0)] = entry;
  }
  for (const std::optional<QByteArray>& id : changed) {
    ASSERT_TRUE(journaled.contains(*id)) << "row " << id->toStdString() << " not in the journal";
    EXPECT_EQ(journaled[*id].before, "r " + *id);
  }
}
