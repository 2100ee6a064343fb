// Nothing is written that the journal cannot give back: the entry is on its way to disk
// before the row changes, and a journal that fails stops the run in the open.
#include <QLabel>

#include "ProgressWindow.h"
#include "RunTesting.h"

namespace {

class JournalFailureTest : public RunTest {
 protected:
  // A table t (id, v) of `rows` values "r 1", "r 2", ..., written in chunks (keyed) or row
  // by row (no key, and a FLOAT column, which only the single-row write finds its row by).
  void createRows(int rows, bool keyed) {
    db.exec(QString("CREATE TABLE t (id %1, v VARCHAR(20));"
                    "INSERT INTO t SELECT seq, CONCAT('r ', seq) FROM seq_1_to_%2")
                .arg(keyed ? "INT PRIMARY KEY" : "FLOAT")
                .arg(rows));
  }
  int rowsChanged() const {
    return db.column("SELECT COUNT(*) FROM t WHERE v NOT LIKE '% %'")[0]->toInt();
  }
  // From the `failingWrite`th write of the journal on, the disk is full.
  void failJournalFrom(MainWindow& form, int failingWrite) {
    form.journal()->setWriteHook([this, failingWrite] {
      if (++journalWrites >= failingWrite) throw JournalError("journal: disk full");
    });
  }
  QString summary(MainWindow& form) const { return form.progressWindow().summaryText->text(); }
  QString stoppedAfter(int record) const {
    return QString(
               "The journal that keeps the old values could not be written (journal: disk "
               "full), so the run stopped: nothing after record %1 was written.")
        .arg(record);
  }

  int journalWrites = 0;
};

}  // namespace

// Each entry goes to the journal while its row still holds the old value: a row on its own
// before its UPDATE, a chunk's rows before its COMMIT.
TEST_F(JournalFailureTest, EveryEntryIsKeptBeforeItsRowChanges) {
  for (const bool keyed : {false, true}) {
    SCOPED_TRACE(keyed ? "a chunk" : "row by row");
    db.exec("DROP TABLE IF EXISTS t");
    constexpr int Rows = 20;
    createRows(Rows, keyed);
    MainWindow& form = chooseField();
    journalWrites = 0;
    form.journal()->setWriteHook([&] {
      ++journalWrites;
      // Row by row an entry and its settlement alternate; a chunk's entries go in one
      // write, and its settlement after them.
      const int written = keyed ? (journalWrites <= 1 ? 0 : Rows) : journalWrites / 2;
      EXPECT_EQ(rowsChanged(), written) << "at the journal's write " << journalWrites;
    });
    run(form, u"Remove All Spaces in Selected Field");
    form.journal()->setWriteHook(nullptr);
    EXPECT_EQ(rowsChanged(), Rows);
    EXPECT_EQ(journalWrites, keyed ? 2 : 2 * Rows);
  }
}

TEST_F(JournalFailureTest, AFailingJournalStopsARunWrittenRowByRow) {
  createRows(10, false);
  MainWindow& form = chooseField();
  failJournalFrom(form, 5);  // the third record's entry
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(rowsChanged(), 2);
  EXPECT_EQ(dialogs.messages(), QStringList({stoppedAfter(2)}));
  EXPECT_TRUE(summary(form).startsWith(
      "Stopped because the journal could not be written, after 2 of 10 records: 2 written"))
      << summary(form).toStdString();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(journalRuns().at(0).end, "JournalFailed");
  EXPECT_EQ(journalRuns().at(0).written, 2);
}

// The chunk whose entries could not all be kept is rolled back whole.
// A disk that is full stays full: the end of the run cannot be kept either, and that is
// not a second box.
TEST_F(JournalFailureTest, AFullDiskIsToldInOneBox) {
  createRows(100, true);
  MainWindow& form = chooseField();
  failJournalFrom(form, 1);
  form.journal()->setEndHook([] { throw JournalError("journal: disk full"); });
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(dialogs.messages(), QStringList({stoppedAfter(0)}));
  EXPECT_EQ(rowsChanged(), 0);
}

TEST_F(JournalFailureTest, AFailingJournalRollsAChunkBack) {
  createRows(100, true);
  MainWindow& form = chooseField();
  failJournalFrom(form, 1);
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(rowsChanged(), 0);
  EXPECT_EQ(dialogs.messages(), QStringList({stoppedAfter(0)}));
  EXPECT_TRUE(summary(form).startsWith("Stopped because the journal could not be written"));
  EXPECT_EQ(journalRuns().at(0).written, 0);
}

// A record's report waits for the chunk staged before it; when that chunk's journal
// fails, the run stops after the report, and nothing after it is written.
TEST_F(JournalFailureTest, AFailingJournalInAChunkBeforeAReportStopsTheRun) {
  db.exec(
      "CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(20));"
      "INSERT INTO t VALUES (1, 'xa'), (2, '😀b'), (3, 'yc')");
  MainWindow& form = chooseField();
  failJournalFrom(form, 1);
  run(form, u"Remove First x Character(s) in Selected Field", {"1"});
  EXPECT_EQ(values(), Column({text("xa"), text("😀b"), text("yc")}));
  ASSERT_EQ(dialogs.messages().size(), 2);
  EXPECT_TRUE(dialogs.messages()[0].startsWith("The new value would cut a character in two"));
  EXPECT_EQ(dialogs.messages()[1], stoppedAfter(0));
}

// Stop after the first record: the records after it, which would change, stay as they are.
TEST_F(JournalFailureTest, StopInTheRecordLoopLeavesTheRestUntouched) {
  createRows(6, false);
  MainWindow& form = chooseField();
  stopAtJournalWrite(form, 2);  // the first record's write settled: Stop before the next
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(rowsChanged(), 1);
  EXPECT_TRUE(summary(form).startsWith("Stopped by you after")) << summary(form).toStdString();
  EXPECT_EQ(journalRuns().at(0).written, rowsChanged());
}
