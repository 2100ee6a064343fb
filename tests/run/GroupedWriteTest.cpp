// Writes in chunks: one transaction and one write per changed record, rows changed,
// deleted or refused meanwhile told one by one, bytes exact, the single-row write kept
// where chunks cannot go, and deadlocks tried again.
#include <QLabel>
#include <QTimer>
#include <thread>

#include "Connection.h"
#include "PreviewWindow.h"
#include "ProfileKeys.h"
#include "ProgressWindow.h"
#include "RecordSet.h"
#include "RunTesting.h"

namespace {

const QString RowNotLocated = QStringLiteral(
    "Row cannot be located for updating. Some values may have been changed since it was last "
    "read.");

}  // namespace

class GroupedWriteTest : public RunTest {
 protected:
  // Every write to t from now on is also audited: whether it ran in a transaction of its
  // own (a single-row write) or in one that holds others (a chunk).
  void audit() {
    db.exec(
        "CREATE TABLE audit (shared INT);"
        "CREATE TRIGGER audited AFTER UPDATE ON t FOR EACH ROW INSERT INTO audit VALUES "
        "(@@in_transaction)");
  }
  Column auditedWrites() const { return db.column("SELECT shared FROM audit"); }
  // A recipe that removes the spaces of v and w, previewed.
  static void previewSpacesOfVAndW(MainWindow& form) {
    Recipe recipe;
    for (const char* field : {"v", "w"}) {
      recipe.steps.push_back({"t", field, FindOperationByName(u"remove-all-spaces"), {}});
    }
    form.previewRecipe(recipe);
  }
  int innodbDeadlocks() const {
    return db
        .column(
            "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE "
            "VARIABLE_NAME = 'INNODB_DEADLOCKS'")[0]
        ->toInt();
  }
  // As chooseField, logged in as a user who may read and write the database's tables
  // but not make temporary tables; the user goes at the end of the test.
  MainWindow& chooseFieldWithoutTemporaryTables() {
    const QString user = QStringLiteral("no_temp_%1").arg(QCoreApplication::applicationPid());
    ExecOnServer("CREATE OR REPLACE USER '" + user + "'@'%' IDENTIFIED BY 'pw';" +
                 "GRANT SELECT, UPDATE ON `" + db.name() + "`.* TO '" + user + "'@'%'");
    dropUser_ = user;
    storeWorkingProfile(db.name());
    settings.write(QStringLiteral("MyUser"), user);
    settings.write(QStringLiteral("MyPassword"), QStringLiteral("pw"));
    MainWindow& form = start().mainWindow();
    clickEntry(form.tableList, entries(form.tableList).indexOf("t"));
    clickEntry(form.fieldList, 1);
    dialogs.clear();
    return form;
  }

  // Another session takes the lock of the write counter, waits until the run's write
  // waits for it, then writes row 1 itself: a deadlock, in which the run's write, the
  // lighter side, is undone. The other session then commits. (A chunk also fills a table
  // that cannot be rolled back, which alone would make it the heavier side: the other
  // session fills one too.)
  void deadlockTheFirstWriteWaiting() {
    db.exec("CREATE TABLE heavy (n INT); CREATE TABLE kept (n INT) ENGINE=MEMORY");
    other_ = std::make_unique<Connection>();
    other_->Open(db.connectionString());
    other_->Execute("BEGIN");
    other_->Execute("INSERT INTO heavy SELECT seq FROM seq_1_to_20000");
    other_->Execute("INSERT INTO kept VALUES (1)");
    other_->Execute("UPDATE writes SET n = n");
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [this, poll] {
      if (db.column("SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '" + db.name() +
                    "' AND INFO LIKE 'UPDATE%' AND TIME_MS > 50")
              .empty()) {
        return;
      }
      poll->stop();
      poll->deleteLater();
      try {
        other_->Execute("UPDATE t SET v = v WHERE id = 1");
        other_->Execute("COMMIT");
      } catch (const std::exception& failure) {
        ADD_FAILURE() << failure.what();
      }
    });
    poll->start(20);
  }

 private:
  void TearDown() override {
    if (!dropUser_.isEmpty()) ExecOnServer("DROP USER IF EXISTS '" + dropUser_ + "'@'%'");
  }

  std::unique_ptr<Connection> other_;
  QString dropUser_;
};

TEST_F(GroupedWriteTest, AChunkIsOneTransactionWithOneWritePerChangedRecord) {
  createTable("VARCHAR(20)", {"'a b'", "'cd'", "'e f'", "NULL", "'g h'"});
  audit();
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(values(), Column({text("ab"), text("cd"), text("ef"), std::nullopt, text("gh")}));
  EXPECT_EQ(writes(), 3) << "none for the unchanged records";
  EXPECT_EQ(auditedWrites(), Column(3, text("1")));
}

// The chunk table in memory may grow beyond the session's limit for such tables; the
// session itself, which other statements share, keeps its limit.
TEST_F(GroupedWriteTest, TheSessionKeepsItsLimitForTablesInMemory) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'"});
  db.exec(
      "CREATE TABLE heap (bytes BIGINT);"
      "CREATE TRIGGER heaped AFTER UPDATE ON t FOR EACH ROW INSERT INTO heap VALUES "
      "(@@session.max_heap_table_size)");
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(values(), Column({text("ab"), text("cd")}));
  EXPECT_EQ(db.column("SELECT DISTINCT bytes FROM heap"),
            db.column("SELECT @@global.max_heap_table_size"));
}

TEST_F(GroupedWriteTest, OnlyTheRecordsChangedOrDeletedMeanwhileAreReported) {
  QStringList rows;
  for (int i = 1; i <= 8; ++i) rows << QStringLiteral("'r %1'").arg(i);
  createTable("VARCHAR(20)", rows);
  MainWindow& form = chooseField();
  dialogs.onInput = [&](const QString&) {
    db.exec(
        "UPDATE t SET v = 'R 3' WHERE id = 3; UPDATE t SET v = 'R 7' WHERE id = 7;"
        "DELETE FROM t WHERE id = 5");
  };
  run(form, u"Replace All Spaces in Selected Field With...", {"_"});
  EXPECT_EQ(dialogs.messages(), reports(RowNotLocated, 158, {3, 5, 7}));
  EXPECT_EQ(values(), Column({text("r_1"), text("r_2"), text("R 3"), text("r_4"), text("r_6"),
                              text("R 7"), text("r_8")}));
  EXPECT_TRUE(form.progressWindow().summaryText->text().startsWith(
      "Finished: 8 records read, 5 written, 0 unchanged, 3 reported. "));
}

// Three chunks, each written while the next is read: rows changed, deleted or refused in
// any of them are told in the order read, and the journal holds exactly the rows written.
TEST_F(GroupedWriteTest, ChunksWrittenWhileTheNextIsReadTellEveryRecordInOrder) {
  createTable("VARCHAR(12)", {});
  db.exec(
      "INSERT INTO t SELECT seq, CONCAT('r ', seq) FROM seq_1_to_45000;"
      "UPDATE t SET v = 'a b c d e' WHERE id = 26000");
  MainWindow& form = chooseField();
  dialogs.onInput = [&](const QString&) {
    db.exec("UPDATE t SET v = 'R' WHERE id IN (3, 25003, 44000); DELETE FROM t WHERE id = 30000");
  };
  run(form, u"Replace All Spaces in Selected Field With...", {"___"});
  QStringList expected = reports(RowNotLocated, 158, {3, 25003});
  expected << report("Data too long for column 'v' at row 1", 158, 26000)
           << reports(RowNotLocated, 158, {30000, 44000});
  EXPECT_EQ(dialogs.messages(), expected);
  EXPECT_EQ(writes(), 44995 + 4) << "and the four writes of the test itself";
  EXPECT_EQ(db.column("SELECT COUNT(*) FROM t WHERE v = CONCAT('r___', id)")[0], "44995");
  const std::vector<JournalRun> runs = journalRuns();
  ASSERT_FALSE(runs.empty());
  EXPECT_EQ(runs.front().written, 44995);
  EXPECT_EQ(journalEntries(runs.front().id).size(), 44995u);
}

// Stopped once its first chunk is committed, while the second is read: the run ends with
// the first, whole, in the table and in the journal, and nothing after it.
TEST_F(GroupedWriteTest, AStopWhileAChunkIsWrittenEndsTheRunWithThatChunk) {
  createTable("VARCHAR(12)", {});
  db.exec("INSERT INTO t SELECT seq, CONCAT('r ', seq) FROM seq_1_to_45000");
  MainWindow& form = chooseField();
  stopAtJournalWrite(form, 2);  // the first chunk's entries, then its settlement once committed
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(db.column("SELECT CONCAT(COUNT(*), ' ', MAX(id)) FROM t WHERE v = CONCAT('r', id)"),
            Column({text("20000 20000")}));
  const QString summary = form.progressWindow().summaryText->text();
  EXPECT_TRUE(summary.startsWith("Stopped by you after")) << summary.toStdString();
  EXPECT_EQ(journalRuns().at(0).written, 20000);
  EXPECT_EQ(journalEntries(journalRuns().at(0).id).size(), 20000u);
}

TEST_F(GroupedWriteTest, OneValueTooLongIsReportedAndTheOthersWritten) {
  createTable("VARCHAR(7)", {"'a b'", "'c d e f'", "'g h'"});
  MainWindow& form = chooseField();
  run(form, u"Replace All Spaces in Selected Field With...", {"__"});
  EXPECT_EQ(dialogs.messages(),
            QStringList({report("Data too long for column 'v' at row 1", 158, 2)}));
  EXPECT_EQ(values(), Column({text("a__b"), text("c d e f"), text("g__h")}));
}

TEST_F(GroupedWriteTest, EveryByteAndEmojiTravelsExactly) {
  QByteArray bytes;
  for (int byte = 0; byte < 256; ++byte) bytes += char(byte), bytes += ' ';
  createTable("VARBINARY(600)", {"UNHEX('" + QString::fromLatin1(bytes.toHex()) + "')", "'x y'"});
  db.exec(
      "CREATE TABLE u (id INT PRIMARY KEY, v VARCHAR(40) CHARACTER SET utf8mb4, "
      "w VARCHAR(40) CHARACTER SET latin1);"
      "INSERT INTO u VALUES (1, 'a 😀 b ', 'é è'), (2, '🎉 ', 'ü ')");
  MainWindow& form = chooseField();
  run(form, u"Remove All Spaces in Selected Field");
  const QByteArray expected = QByteArray(bytes).replace(' ', QByteArray());
  EXPECT_EQ(db.column("SELECT HEX(v) FROM t WHERE id = 1")[0], expected.toHex().toUpper());
  clickEntry(form.tableList, entries(form.tableList).indexOf("u"));
  for (int field : {1, 2}) {
    clickEntry(form.fieldList, field);
    run(form, u"Remove All Spaces in Selected Field");
  }
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(db.column("SELECT v FROM u ORDER BY id"), Column({text("a😀b"), text("🎉")}));
  EXPECT_EQ(db.column("SELECT HEX(w) FROM u ORDER BY id"), Column({text("E9E8"), text("FC")}));
}

// A chunk's keys travel as strings of the session's character set, each taking its key
// column's type on the server: text in another character set, bytes and numbers. A TEXT
// field's chunk table keeps its rows on disk, in the chunk's transaction.
TEST_F(GroupedWriteTest, KeysOfEveryTypeFindTheirRows) {
  createTable("VARCHAR(20)", {});
  db.exec(
      "CREATE TABLE k (name VARCHAR(10) CHARACTER SET latin1 COLLATE latin1_bin, "
      "code VARBINARY(4), amount DECIMAL(6,2), v TEXT, PRIMARY KEY (name, code, amount));"
      "INSERT INTO k VALUES ('é', X'00FF', 1.50, 'a b'), ('e', X'00FF', 1.50, 'c d'), "
      "('é', X'00', 1.50, 'e f'), ('é', X'00FF', 1.25, 'x'), ('é', X'00FF', 2, 'g h')");
  MainWindow& form = chooseField();
  clickEntry(form.tableList, entries(form.tableList).indexOf("k"));
  clickEntry(form.fieldList, 3);
  // The fourth record read changes meanwhile: the chunk goes on without it.
  dialogs.onInput = [&](const QString&) {
    db.exec("UPDATE k SET v = 'A B' WHERE name = 'é' AND code = X'00FF' AND amount = 1.5");
  };
  run(form, u"Replace All Spaces in Selected Field With...", {"_"});
  ASSERT_EQ(dialogs.messages().size(), 1);
  EXPECT_TRUE(dialogs.messages()[0].startsWith(RowNotLocated));
  EXPECT_TRUE(dialogs.messages()[0].contains("Record 4 (name = é, code = "));
  EXPECT_EQ(db.column("SELECT v FROM k ORDER BY v"),
            Column({text("A B"), text("c_d"), text("e_f"), text("g_h"), text("x")}));
}

// Rows alike in every byte (twins) are written together only when the table holds exactly
// as many as were read; one that came in since is never written.
TEST_F(GroupedWriteTest, AKeylessTableIsWrittenInChunksFindingEachRowByItsBytes) {
  db.exec(
      "CREATE TABLE t (v VARCHAR(20), w VARCHAR(10));"
      "INSERT INTO t VALUES ('a b', 'x'), ('a b', 'x'), ('A B', 'x'), ('a b', NULL), "
      "('c d', 'y'), ('e f', 'z');"
      "CREATE TABLE writes (n INT); INSERT INTO writes VALUES (0);"
      "CREATE TRIGGER counted AFTER UPDATE ON t FOR EACH ROW UPDATE writes SET n = n + 1");
  audit();
  MainWindow& form = chooseField();
  clickEntry(form.fieldList, 0);
  dialogs.onInput = [&](const QString&) {
    db.exec("INSERT INTO t VALUES ('e f', 'z')");  // a twin the run did not read
  };
  run(form, u"Replace All Spaces in Selected Field With...", {"_"});
  EXPECT_EQ(dialogs.messages(), QStringList());
  const auto table = [&] {
    return db.column(
        "SELECT CONCAT(v, '/', IFNULL(w, 'NULL'), ' ', COUNT(*)) FROM t GROUP BY BINARY v, w ORDER "
        "BY "
        "BINARY v, w");
  };
  EXPECT_EQ(table(), Column({text("A_B/x 1"), text("a_b/NULL 1"), text("a_b/x 2"), text("c_d/y 1"),
                             text("e f/z 1"), text("e_f/z 1")}));
  EXPECT_EQ(writes(), 6);
  EXPECT_EQ(auditedWrites(), Column(6, text("1")))
      << "in one chunk, also the row that has a twin now: either of them may take the value";
  EXPECT_TRUE(form.progressWindow().noteText->isHidden());

  const JournalRun journaled = journalRuns().at(0);
  EXPECT_EQ(journaled.entries, 6);
  db.exec("DELETE FROM audit");
  form.undoRun(journaled.id);
  EXPECT_EQ(table(), Column({text("A B/x 1"), text("a b/NULL 1"), text("a b/x 2"), text("c d/y 1"),
                             text("e f/z 2")}));
  EXPECT_EQ(auditedWrites(), Column(6, text("1")));
}

// Its key values are cast to the key's types: here Latin-1 text and a number.
TEST_F(GroupedWriteTest, WithoutTheTemporaryTablePrivilegeAChunkIsADerivedTable) {
  createTable("VARCHAR(20)", {"'a b'", "'c'", "'d e'"});
  db.exec(
      "ALTER TABLE t ADD COLUMN name VARCHAR(10) CHARACTER SET latin1 NOT NULL DEFAULT 'é', "
      "DROP PRIMARY KEY, ADD PRIMARY KEY (name, id)");
  audit();
  MainWindow& form = chooseFieldWithoutTemporaryTables();
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(values(), Column({text("ab"), text("c"), text("de")}));
  EXPECT_EQ(auditedWrites(), Column(2, text("1"))) << "a chunk, as a derived table";
  EXPECT_TRUE(form.progressWindow().noteText->isHidden());
}

// A key that no cast reaches (UUID), and no chunk table: row by row, and the progress
// window says so.
TEST_F(GroupedWriteTest, WhenNeitherFormIsAllowedTheProgressWindowSaysWhy) {
  createTable("VARCHAR(20)", {"'a b'", "'d e'"});
  db.exec(
      "ALTER TABLE t ADD COLUMN u UUID NOT NULL DEFAULT UUID(), DROP PRIMARY KEY, "
      "ADD PRIMARY KEY (u)");
  audit();
  MainWindow& form = chooseFieldWithoutTemporaryTables();
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(values(), Column({text("ab"), text("de")}));
  EXPECT_EQ(auditedWrites(), Column(2, text("0")));
  const QLabel* note = form.progressWindow().noteText;
  EXPECT_FALSE(note->isHidden());
  EXPECT_TRUE(
      note->text().startsWith("Each record is written on its own, in a round trip of its "
                              "own: the server refused a temporary table for them ("))
      << note->text().toStdString();
}

// The link lost while a chunk is being written, after its entries were kept: whether it
// committed cannot be known, so its records are in doubt, in the journal for an undo.
TEST_F(GroupedWriteTest, ALinkLostWhileAChunkIsWrittenLeavesItsRecordsInDoubt) {
  createTable("VARCHAR(20)", {"'a b'", "'cd'", "'e f'"});
  MainWindow& form = chooseField();
  Connection locker;
  locker.Open(db.connectionString());
  locker.Execute("LOCK TABLES t READ");
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
    const Column waiting = db.column(
        "SELECT ID FROM information_schema.PROCESSLIST WHERE STATE = 'Waiting for table "
        "metadata lock' AND INFO LIKE '%UPDATE%'");
    if (waiting.empty()) return;
    poll->deleteLater();
    db.exec("KILL CONNECTION " + *waiting[0]);
    locker.Execute("UNLOCK TABLES");
  });
  poll->start(20);
  run(form, u"Remove All Spaces in Selected Field");
  ASSERT_EQ(dialogs.messages().size(), 1) << dialogs.messages().join("\n").toStdString();
  EXPECT_EQ(values(), Column({text("a b"), text("cd"), text("e f")}));
  const QString summary = form.progressWindow().summaryText->text();
  EXPECT_TRUE(
      summary.startsWith("The connection to the server was lost after 3 of 3 records: 0 "
                         "written, 1 unchanged, 0 reported, 2 in doubt"))
      << summary.toStdString();
  const std::vector<JournalRun> runs = journalRuns();
  ASSERT_FALSE(runs.empty());
  EXPECT_EQ(journalEntries(runs.front().id).size(), 2u);
  EXPECT_EQ(runs.front().end, "ConnectionLost");
}

// A deadlock undoes the write; it is tried again, not reported.
TEST_F(GroupedWriteTest, ADeadlockIsTriedAgainInAChunkAndRowByRow) {
  for (const bool keyed : {true, false}) {
    SCOPED_TRACE(keyed ? "a chunk" : "a single row");
    db.exec("DROP TABLE IF EXISTS t, writes, heavy, kept");
    createTable("VARCHAR(20)", {"'a b'", "'c d'"});
    if (!keyed) db.exec("ALTER TABLE t DROP PRIMARY KEY");
    MainWindow& form = chooseField();
    const int deadlocksBefore = innodbDeadlocks();
    deadlockTheFirstWriteWaiting();
    run(form, u"Remove All Spaces in Selected Field");
    EXPECT_EQ(dialogs.messages(), QStringList());
    EXPECT_EQ(values(), Column({text("ab"), text("cd")}));
    EXPECT_GT(innodbDeadlocks(), deadlocksBefore);
  }
}

// A recipe's fields of one table go in one chunk: each row written once, with the fields
// it changes and no other, each of them only where it stands as previewed.
TEST_F(GroupedWriteTest, TheFieldsOfARowAreWrittenTogetherEachWhereItStands) {
  createTable("VARCHAR(20)", {"'a b'", "'e f'", "'ij'", "'m n'"});
  db.exec(
      "ALTER TABLE t ADD COLUMN w TEXT;"
      "UPDATE t SET w = ELT(id, 'c d', 'gh', 'k l', 'o p')");
  audit();
  MainWindow& form = chooseField();
  previewSpacesOfVAndW(form);
  ASSERT_NE(form.previewWindow(), nullptr);
  // Meanwhile: a value of w that the recipe keeps, and one that it would change.
  db.exec("UPDATE t SET w = 'other' WHERE id = 2; UPDATE t SET w = 'q r' WHERE id = 4");
  db.exec("DELETE FROM audit");
  QTest::mouseClick(form.previewWindow()->applyButton, Qt::LeftButton);

  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(values(), Column({text("ab"), text("ef"), text("ij"), text("mn")}));
  EXPECT_EQ(db.column("SELECT w FROM t ORDER BY id"),
            Column({text("cd"), text("other"), text("kl"), text("q r")}));
  // Rows 1 to 3 in one chunk; row 4's v on its own once its w no longer stood.
  EXPECT_EQ(auditedWrites(), Column({text("1"), text("1"), text("1"), text("0")}));
  const QString summary = form.progressWindow().summaryText->text();
  EXPECT_TRUE(summary.contains("\nt.v (step 1): 3 written, 0 unchanged, 0 reported."))
      << summary.toStdString();
  EXPECT_TRUE(
      summary.contains("\nt.w (step 2): 2 written, 0 unchanged, 0 reported, 1 changed "
                       "since the preview (left as they are)."))
      << summary.toStdString();
  const JournalRun applied = journalRuns().at(0);
  EXPECT_EQ(applied.written, 5);
  EXPECT_EQ(applied.entries, 5) << "none for the value left as it stood";

  form.undoRun(applied.id);
  EXPECT_EQ(values(), Column({text("a b"), text("e f"), text("ij"), text("m n")}));
  EXPECT_EQ(db.column("SELECT w FROM t ORDER BY id"),
            Column({text("c d"), text("other"), text("k l"), text("q r")}));
}

TEST_F(GroupedWriteTest, RowsThatAChunkLeftHaveTheirFieldsWrittenTogetherAndToldWhyNot) {
  createTable("VARCHAR(20)", {"'a b'", "'c d'", "'e f'", "'g h'", "'i j'", "'k l'"});
  db.exec(
      "ALTER TABLE t ADD COLUMN w TEXT;"
      "UPDATE t SET w = ELT(id, 'm n', 'o p', 'q r', 's t', 'u v', 'w x')");
  audit();
  MainWindow& form = chooseField();
  previewSpacesOfVAndW(form);
  ASSERT_NE(form.previewWindow(), nullptr);
  // Meanwhile: w changed in row 2, cleaned as the recipe would in row 4 and 5, row 6 gone.
  db.exec(
      "UPDATE t SET w = 'other' WHERE id = 2; UPDATE t SET w = 'st' WHERE id = 4;"
      "UPDATE t SET w = 'uv' WHERE id = 5; DELETE FROM t WHERE id = 6");
  db.exec("DELETE FROM audit");
  QTest::mouseClick(form.previewWindow()->applyButton, Qt::LeftButton);

  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(values(), Column({text("ab"), text("cd"), text("ef"), text("gh"), text("ij")}));
  EXPECT_EQ(db.column("SELECT w FROM t ORDER BY id"),
            Column({text("mn"), text("other"), text("qr"), text("st"), text("uv")}));
  // Rows 1 and 3 in their chunk, then the v of rows 2, 4 and 5 together.
  EXPECT_EQ(auditedWrites(), Column({text("1"), text("1"), text("1"), text("1"), text("1")}));
  const QString summary = form.progressWindow().summaryText->text();
  EXPECT_TRUE(summary.contains("\nt.v (step 1): 5 written, 0 unchanged, 0 reported, 1 row gone."))
      << summary.toStdString();
  EXPECT_TRUE(
      summary.contains("\nt.w (step 2): 2 written, 2 unchanged, 0 reported, 1 changed "
                       "since the preview (left as they are), 1 row gone."))
      << summary.toStdString();
  const JournalRun applied = journalRuns().at(0);
  EXPECT_EQ(applied.entries, 7) << "one for each value written, none for those left";

  form.undoRun(applied.id);
  EXPECT_EQ(values(), Column({text("a b"), text("c d"), text("e f"), text("g h"), text("i j")}));
  EXPECT_EQ(db.column("SELECT w FROM t ORDER BY id"),
            Column({text("m n"), text("other"), text("q r"), text("st"), text("uv")}));
}

TEST_F(GroupedWriteTest, AKeylessTableTooWideForAChunkInMemoryHasItsChunkOnDisk) {
  db.exec(
      "CREATE TABLE t (v VARCHAR(20), w TEXT);"
      "INSERT INTO t VALUES ('a b', REPEAT('x', 5000)), ('a b', REPEAT('x', 5000)), ('c d', "
      "NULL), ('ef', 'y')");
  audit();
  MainWindow& form = chooseField();
  clickEntry(form.fieldList, 0);
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(dialogs.messages(), QStringList());
  const auto sorted = [&] { return db.column("SELECT v FROM t ORDER BY v"); };
  EXPECT_EQ(sorted(), Column({text("ab"), text("ab"), text("cd"), text("ef")}));
  EXPECT_EQ(auditedWrites(), Column(3, text("1")));

  form.undoRun(journalRuns().at(0).id);
  EXPECT_EQ(sorted(), Column({text("a b"), text("a b"), text("c d"), text("ef")}));
  EXPECT_EQ(db.column("SELECT COUNT(*) FROM t WHERE w = REPEAT('x', 5000)"), Column{text("2")});
}

TEST_F(GroupedWriteTest, ChunksWhoseEveryRowAnotherWriterChangedWriteTheFieldsThatStand) {
  db.exec(
      "CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(20), w VARCHAR(20));"
      "INSERT INTO t SELECT seq, 'a b', 'c d' FROM seq_1_to_30000");
  MainWindow& form = chooseField();
  previewSpacesOfVAndW(form);
  ASSERT_NE(form.previewWindow(), nullptr);
  // Meanwhile another writer changes w in every row: each chunk of 20,000 leaves them all.
  db.exec("UPDATE t SET w = 'other'");
  QTest::mouseClick(form.previewWindow()->applyButton, Qt::LeftButton);

  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(db.column("SELECT CONCAT(v, '/', w, ' ', COUNT(*)) FROM t GROUP BY v, w"),
            Column({text("ab/other 30000")}));
  const QString summary = form.progressWindow().summaryText->text();
  EXPECT_TRUE(summary.contains("\nt.v (step 1): 30,000 written, 0 unchanged, 0 reported."))
      << summary.toStdString();
  EXPECT_TRUE(
      summary.contains("\nt.w (step 2): 0 written, 0 unchanged, 0 reported, 30,000 "
                       "changed since the preview (left as they are)."))
      << summary.toStdString();

  form.undoRun(journalRuns().at(0).id);
  EXPECT_EQ(db.column("SELECT CONCAT(v, '/', w, ' ', COUNT(*)) FROM t GROUP BY v, w"),
            Column({text("a b/other 30000")}));
}
