// The run as the user watches and steers it: progress and summary, "Stop", "Stop Run",
// rows locked by another session, a lost connection, and one thing at a time.
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "Connection.h"
#include "PreviewWindow.h"
#include "ProgressWindow.h"
#include "RecordSet.h"
#include "RunTesting.h"

namespace {

const QString RowNotLocated = QStringLiteral(
    "Row cannot be located for updating. Some values may have been changed since it was last "
    "read.");

// Another session that holds row `id` of t locked until it goes.
class RowLock {
 public:
  RowLock(const Database& db, int id) {
    connection_.Open(db.connectionString());
    connection_.Execute("BEGIN");
    connection_.Execute("SELECT * FROM t WHERE id = " + QString::number(id) + " FOR UPDATE")
        ->RecordCount();
  }

 private:
  Connection connection_;
};

}  // namespace

class RunControlTest : public RunTest {
 protected:
  ProgressWindow& progress(MainWindow& form) { return form.progressWindow(); }

  // Runs `act` with the server thread of the run's write, once that write has waited a
  // moment for a lock.
  void whenAWriteWaits(const std::function<void(const QByteArray& thread)>& act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [this, poll, act] {
      const Column waiting =
          db.column("SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '" + db.name() +
                    "' AND INFO LIKE 'UPDATE%' AND TIME_MS > 50");
      if (waiting.empty()) return;
      poll->stop();
      poll->deleteLater();
      try {
        act(*waiting[0]);
      } catch (const std::exception& failure) {
        ADD_FAILURE() << failure.what();
      }
    });
    poll->start(20);
  }
};

TEST_F(RunControlTest, TheProgressWindowShowsTheRunAndKeepsItsSummary) {
  createTable("VARCHAR(20)", {"'a b'", "NULL", "'c'"});
  MainWindow& form = chooseField();
  run(form, u"Replace All Spaces in Selected Field With...", {" _ "});
  ProgressWindow& window = progress(form);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.tableValue->text(), "t");
  EXPECT_EQ(window.fieldValue->text(), "v");
  EXPECT_EQ(window.operationValue->text(), "Replace All Spaces in Selected Field With...");
  EXPECT_EQ(window.answersValue->text(), "\" _ \"");
  EXPECT_EQ(window.progressBar->value(), 3);
  EXPECT_EQ(window.progressBar->maximum(), 3);
  EXPECT_TRUE(window.summaryText->text().startsWith(
      "Finished: 3 records read, 1 written, 2 unchanged, 0 reported. "))
      << window.summaryText->text().toStdString();
  EXPECT_EQ(window.stopButton->text(), "Close");
  QTest::mouseClick(window.stopButton, Qt::LeftButton);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(values(), Column({text("a _ b"), std::nullopt, text("c")}));
}

TEST_F(RunControlTest, ARunThatEndsBeforeItsRecordsShowsNoProgress) {
  createTable("VARCHAR(20)", {"'a b'"});
  MainWindow& form = chooseField();
  run(form, u"Replace All Spaces in Selected Field With...", {""});
  EXPECT_FALSE(progress(form).isVisible());
}

TEST_F(RunControlTest, StopEndsTheRunAfterTheCurrentRecord) {
  createTable("VARCHAR(4)", {"'a b'", "'c  d'", "'e f'", "'g h'"});
  MainWindow& form = chooseField();
  dialogs.onMessage = [&](const QString&) {
    QTest::mouseClick(progress(form).stopButton, Qt::LeftButton);
  };
  run(form, u"Replace All Spaces in Selected Field With...", {"__"});
  ASSERT_EQ(dialogs.messages().size(), 1);
  EXPECT_EQ(dialogs.shown()[1].offersStopRun, true);
  EXPECT_EQ(values(), Column({text("a__b"), text("c  d"), text("e f"), text("g h")}));
  EXPECT_TRUE(progress(form).summaryText->text().startsWith(
      "Stopped by you after 2 of 4 records: 1 written, 0 unchanged, 1 reported. "));
  EXPECT_EQ(entries(form.previewList), QStringList({"a__b", "c  d", "e f", "g h"}))
      << "the preview refreshes as after any run";
}

TEST_F(RunControlTest, StopRunInAReportEndsTheRun) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'"});
  MainWindow& form = chooseField();
  dialogs.onInput = [&](const QString&) { db.exec("UPDATE t SET v = 'C D' WHERE id = 2"); };
  dialogs.reportAnswer = ReportAnswer::StopRun;
  run(form, u"Replace All Spaces in Selected Field With...", {"_"});
  const ShownBox expected{ShownBox::Kind::Message, "Application Error",
                          report(RowNotLocated, 158, 2), BoxIcon::Warning, true};
  ASSERT_EQ(dialogs.shown().size(), 2u);
  EXPECT_EQ(dialogs.shown()[1], expected);
  EXPECT_EQ(values(), Column({text("a_b"), text("C D"), text("e f")}));
  EXPECT_TRUE(progress(form).summaryText->text().startsWith(
      "Stopped by you after 2 of 3 records: 1 written, 0 unchanged, 1 reported. "));
}

// The write waiting for the lock is cancelled on the server at once, not after the wait.
TEST_F(RunControlTest, StopCancelsAWriteThatWaitsForALockedRow) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'"});
  MainWindow& form = chooseField();
  {
    RowLock lock(db, 2);
    whenAWriteWaits(
        [&](const QByteArray&) { QTest::mouseClick(progress(form).stopButton, Qt::LeftButton); });
    run(form, u"Remove All Spaces in Selected Field");
  }
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(values(), Column({text("ab"), text("c d"), text("e f")}));
  EXPECT_EQ(writes(), 1);
  EXPECT_TRUE(progress(form).summaryText->text().startsWith(
      "Stopped by you after 1 of 3 records: 1 written, 0 unchanged, 0 reported. "));
}

// An undo is stopped as a run is: its write waiting for a lock is cancelled at once.
TEST_F(RunControlTest, StopCancelsAnUndoWriteThatWaitsForALockedRow) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'"});
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  const qint64 cleaning = journalRuns().at(0).id;
  {
    RowLock lock(db, 2);
    whenAWriteWaits(
        [&](const QByteArray&) { QTest::mouseClick(progress(form).stopButton, Qt::LeftButton); });
    form.undoRun(cleaning);
  }
  EXPECT_EQ(values(), Column({text("a b"), text("cd"), text("ef")}));
  EXPECT_TRUE(progress(form).summaryText->text().startsWith("Stopped by you after 1 of 3 records"))
      << progress(form).summaryText->text().toStdString();
  EXPECT_EQ(journalRuns().at(1).restored, 1);
}

TEST_F(RunControlTest, ARowLockedTooLongIsReportedAndTheRunGoesOn) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'"});
  MainWindow& form = chooseField();
  {
    RowLock lock(db, 2);
    run(form, u"Remove All Spaces in Selected Field");
  }
  EXPECT_EQ(
      dialogs.messages(),
      QStringList({report("Lock wait timeout exceeded; try restarting transaction", 138, 2)}));
  EXPECT_EQ(values(), Column({text("ab"), text("c d"), text("ef")}));
}

TEST_F(RunControlTest, ALostConnectionIsReportedOnceAndTheWriteInFlightIsInDoubt) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'"});
  MainWindow& form = chooseField();
  const QStringList previewBefore = entries(form.previewList);
  {
    RowLock lock(db, 2);
    whenAWriteWaits(
        [&](const QByteArray& thread) { db.exec("KILL CONNECTION " + QString::fromUtf8(thread)); });
    run(form, u"Remove All Spaces in Selected Field");
  }
  ASSERT_EQ(dialogs.messages().size(), 1) << dialogs.messages().join("\n").toStdString();
  EXPECT_TRUE(dialogs.messages()[0].endsWith(report("", 138, 2)));
  EXPECT_EQ(values(), Column({text("ab"), text("c d"), text("e f")}));
  const QString summary = progress(form).summaryText->text();
  EXPECT_TRUE(
      summary.startsWith("The connection to the server was lost after 2 of 3 records: 1 "
                         "written, 0 unchanged, 0 reported, 1 in doubt"))
      << summary.toStdString();
  EXPECT_EQ(entries(form.previewList), previewBefore);
  EXPECT_EQ(form.pointer(), Pointer::Default);
  // The record in doubt is in the journal, so that an undo can settle it.
  const std::vector<JournalEntry> journaled = journalEntries(journalRuns().at(0).id);
  ASSERT_EQ(journaled.size(), 2u);
  EXPECT_EQ(journaled[1].before, QByteArray("c d"));
  EXPECT_EQ(journalRuns().at(0).end, "ConnectionLost");
}

// A second "Start Removing", another table or "Switch MySQL Database" during a run waits
// for nothing: it is dropped.
TEST_F(RunControlTest, NothingElseStartsWhileARunGoesOn) {
  createTable("VARCHAR(20)", {"'a b'"});
  db.exec("CREATE TABLE u (w INT); INSERT INTO u VALUES (7)");
  MainWindow& form = chooseField();
  dialogs.onInput = [&](const QString&) {
    dialogs.onInput = nullptr;
    QTest::mouseClick(form.startButton, Qt::LeftButton);
    clickEntry(form.tableList, entries(form.tableList).indexOf("u"));
    QTest::mouseClick(form.switchDatabaseButton, Qt::LeftButton);
  };
  run(form, u"Replace All Spaces in Selected Field With...", {"_"});
  EXPECT_EQ(dialogs.prompts(), QStringList({"Replace With:"})) << "one run only";
  EXPECT_EQ(form.tableList->selectedText(), "t");
  EXPECT_EQ(entries(form.previewList), QStringList({"a_b"}));
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(writes(), 1);
}

TEST_F(RunControlTest, APreviewBeingFilledIsNotMixedWithAnotherTable) {
  createTable("VARCHAR(20)", {});
  QString rows;
  for (int i = 0; i < 300; ++i) rows += QStringLiteral(",(%1, 'x%1')").arg(i);
  db.exec("INSERT INTO t VALUES " + rows.mid(1) +
          "; CREATE TABLE u (w INT); INSERT INTO u VALUES (7)");
  MainWindow& form = chooseField();
  QTimer::singleShot(0, &form,
                     [&] { clickEntry(form.tableList, entries(form.tableList).indexOf("u")); });
  clickEntry(form.fieldList, 1);
  EXPECT_EQ(form.tableList->selectedText(), "t");
  const QStringList preview = entries(form.previewList);
  ASSERT_EQ(preview.size(), 101);
  EXPECT_EQ(preview.front(), "x0");
  EXPECT_EQ(preview.back(), "x100");
}

TEST_F(RunControlTest, ClosingDuringARunAsksThenStopsItAndEndsTheProgram) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'"});
  MainWindow& form = chooseField();
  dialogs.yes = false;
  dialogs.onInput = [&](const QString&) { form.close(); };
  run(form, u"Replace All Spaces in Selected Field With...", {"_"});
  EXPECT_EQ(dialogs.shown()[1].kind, ShownBox::Kind::Question);
  EXPECT_EQ(dialogs.shown()[1].text,
            "A run is under way. Stop it after the current record and close Klarifeld?");
  EXPECT_EQ(programEnds, 0);
  EXPECT_EQ(values(), Column({text("a_b"), text("c_d")}));

  dialogs.yes = true;
  run(form, u"Replace All Spaces in Selected Field With...", {"-"});
  EXPECT_EQ(programEnds, 1);
  EXPECT_EQ(values(), Column({text("a_b"), text("c_d")})) << "stopped before its first record";
}

// The records stream over a connection of their own while the writes go over another: losing
// that stream part of the way ends the run as lost, never as finished.
TEST_F(RunControlTest, RecordsLostOnTheWayEndTheRunAsLost) {
  createTable("TEXT", {});
  // Enough rows that most are still on their way when the first one is reported.
  db.exec(
      "INSERT INTO t SELECT seq, IF(seq = 1, CONCAT(REPEAT('a', 40), '!'), REPEAT('b', 200)) "
      "FROM seq_1_to_200000");
  MainWindow& form = chooseField();
  dialogs.onMessage = [&](const QString&) {
    dialogs.onMessage = nullptr;
    for (const auto& id : db.column("SELECT ID FROM information_schema.PROCESSLIST WHERE INFO "
                                    "LIKE '%SELECT `id`, `v` FROM `t`'")) {
      db.exec("KILL CONNECTION " + QString::fromUtf8(*id));
    }
  };
  run(form, u"Replace Text Matching a Regular Expression in Selected Field With...",
      {"(a+)+$", ""});
  const QStringList shown = dialogs.messages();
  ASSERT_EQ(shown.size(), 2) << shown.join("\n").toStdString();
  EXPECT_TRUE(shown[0].contains("match limit")) << shown[0].toStdString();
  EXPECT_TRUE(shown[1].contains("Lost connection")) << shown[1].toStdString();
  const QString summary = progress(form).summaryText->text();
  EXPECT_TRUE(summary.startsWith("The connection to the server was lost after "))
      << summary.toStdString();
  EXPECT_EQ(journalRuns().at(0).end, "ConnectionLost");
  EXPECT_EQ(writes(), 0);
  // The previews' reads, closed with most rows unread, no longer hold the table.
  db.exec("SET SESSION lock_wait_timeout = 3; DROP TABLE t");
}

// A table that its engine locks for as long as it is read is read in before the first write,
// which would otherwise wait for that read to end, and the read for the write.
TEST_F(RunControlTest, ATableLockedWhileReadIsWrittenAllTheSame) {
  createTable("VARCHAR(20)", {});
  db.exec("ALTER TABLE t ENGINE = MyISAM; INSERT INTO t SELECT seq, 'a b' FROM seq_1_to_20000");
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(db.column("SELECT COUNT(*) FROM t WHERE v = 'ab'"), Column({text("20000")}));
  EXPECT_TRUE(progress(form).summaryText->text().startsWith(
      "Finished: 20,000 records read, 20,000 written"))
      << progress(form).summaryText->text().toStdString();
}

// A recipe stopped in its second table keeps what it wrote as one run, undone whole.
TEST_F(RunControlTest, StopMidRecipeLeavesOneConsistentRunThatUndoes) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'"});
  db.exec("CREATE TABLE a (id INT PRIMARY KEY, v TEXT); INSERT INTO a VALUES (1, 'x y'), (2, 'z')");
  const Column before = values();
  MainWindow& form = chooseField();
  Recipe recipe;
  for (const char* table : {"a", "t"}) {
    recipe.steps.push_back({table, "v", FindOperationByName(u"remove-all-spaces"), {}});
  }
  form.previewRecipe(recipe);
  ASSERT_NE(form.previewWindow(), nullptr);
  {
    RowLock lock(db, 2);
    whenAWriteWaits(
        [&](const QByteArray&) { QTest::mouseClick(progress(form).stopButton, Qt::LeftButton); });
    QTest::mouseClick(form.previewWindow()->applyButton, Qt::LeftButton);
  }
  EXPECT_EQ(db.column("SELECT v FROM a ORDER BY id"), Column({text("xy"), text("z")}));
  EXPECT_EQ(values(), Column({text("ab"), text("c d"), text("e f")}));
  EXPECT_TRUE(progress(form).summaryText->text().startsWith("Stopped by you after 2 of 4 records"))
      << progress(form).summaryText->text().toStdString();
  const JournalRun stopped = journalRuns().at(0);
  EXPECT_EQ(stopped.end, "Stopped");
  EXPECT_EQ(stopped.written, 2);
  EXPECT_EQ(stopped.entries, 2);

  form.undoRun(stopped.id);
  EXPECT_EQ(db.column("SELECT v FROM a ORDER BY id"), Column({text("x y"), text("z")}));
  EXPECT_EQ(values(), before);
  EXPECT_EQ(journalRuns().at(1).undoneBy, journalRuns().at(0).id);
}
