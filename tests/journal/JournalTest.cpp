#include "Journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <set>

#include "../support/QStringPrinting.h"

namespace {

using Values = std::vector<std::optional<QByteArray>>;

RowChange change(Values identity, std::optional<QByteArray> before,
                 std::optional<QByteArray> after) {
  return {{"id", "k"}, std::move(identity), true, "v", std::move(before), std::move(after)};
}

JournalRun runStarted(const QDateTime& when) {
  JournalRun run;
  run.started = when;
  run.database = "shop";
  run.table = "t";
  run.field = "v";
  run.operation = "Replace All Spaces in Selected Field With...";
  run.answers = {" _ ", "\"x\""};
  return run;
}

mode_t modeOf(const QString& path) {
  struct stat status {};
  ::stat(QFile::encodeName(path).constData(), &status);
  return status.st_mode & 0777;
}

class JournalTest : public testing::Test {
 protected:
  QTemporaryDir home;
  QString path = home.path() + "/Klarifeld/journal.sqlite3";
  QDateTime now = QDateTime::currentDateTimeUtc();

  std::vector<JournalEntry> entriesOf(Journal& journal, qint64 run) {
    std::vector<JournalEntry> entries;
    journal.forEachEntry(run, [&](const JournalEntry& entry) { entries.push_back(entry); });
    return entries;
  }
};

}  // namespace

TEST_F(JournalTest, IsReadableByTheUserOnly) {
  Journal journal(path);
  journal.record(journal.beginRun(runStarted(now)), change({"1", "a"}, "x", "y"));
  EXPECT_EQ(modeOf(path), 0600u);
  EXPECT_EQ(modeOf(home.path() + "/Klarifeld"), 0700u);
  EXPECT_EQ(modeOf(path + "-wal"), 0600u);
}

// Nothing of another's is taken for the journal: a link in its place, a folder that others
// may write to or that belongs to another user. The file a link points to stays as it was.
TEST_F(JournalTest, RefusesLinksAndFoldersThatAreNotTheUsersAlone) {
  const QString folder = home.path() + "/Klarifeld";
  const QString target = home.path() + "/other.sqlite3";
  ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0700), 0);
  {
    QFile other(target);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("someone else's");
  }
  ::chmod(QFile::encodeName(target).constData(), 0644);
  ASSERT_TRUE(QFile::link(target, path));
  EXPECT_THROW(Journal{path}, JournalError);
  EXPECT_EQ(modeOf(target), 0644u);
  QFile other(target);
  ASSERT_TRUE(other.open(QIODevice::ReadOnly));
  EXPECT_EQ(other.readAll(), "someone else's");
  QFile::remove(path);

  ::chmod(QFile::encodeName(folder).constData(), 0777);
  EXPECT_THROW(Journal{path}, JournalError);
  ::chmod(QFile::encodeName(folder).constData(), 0700);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
    EXPECT_THROW(Journal{path}, JournalError);
    ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 0, 0), 0);
  }
  EXPECT_FALSE(QFile::exists(path)) << "nothing was written";
  Journal journal(path);
  EXPECT_TRUE(journal.runs().empty());
}

TEST_F(JournalTest, KeepsEveryByteNullsAndEmptiesApart) {
  const QByteArray binary("\x00\xff\x20\x00", 4);
  {
    Journal journal(path);
    const qint64 run = journal.beginRun(runStarted(now));
    journal.record(run, change({"1", std::nullopt}, binary, QByteArray("")));
    journal.record(run, change({QByteArray(""), "😀"}, std::nullopt, "é"));
  }
  Journal journal(path);  // as found again by the next start
  const std::vector<JournalEntry> entries = entriesOf(journal, journal.runs().at(0).id);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].identity, Values({"1", std::nullopt}));
  EXPECT_EQ(entries[0].before, binary);
  EXPECT_EQ(entries[0].after, QByteArray(""));
  EXPECT_EQ(entries[1].identity, Values({QByteArray(""), "😀"}));
  EXPECT_EQ(entries[1].before, std::nullopt);
  const JournalRun run = journal.runs().at(0);
  EXPECT_EQ(run.answers, QStringList({" _ ", "\"x\""}));
  EXPECT_EQ(run.identityColumns, QByteArrayList({"id", "k"}));
  EXPECT_TRUE(run.keyed);
  EXPECT_EQ(run.column, "v");
  EXPECT_EQ(run.end, "") << "never ended: cut short";
  EXPECT_EQ(run.entries, 2) << "counted when found cut short";
}

TEST_F(JournalTest, ListsRunsNewestFirstWithHowTheyEnded) {
  Journal journal(path);
  const qint64 first = journal.beginRun(runStarted(now));
  const qint64 second = journal.beginRun(runStarted(now));
  JournalRun ended;
  ended.id = first;
  ended.end = "Stopped";
  ended.written = 3;
  journal.endRun(ended);
  journal.markUndone(first, second);
  const std::vector<JournalRun> runs = journal.runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].id, second);
  EXPECT_EQ(runs[1].end, "Stopped");
  EXPECT_EQ(runs[1].written, 3);
  EXPECT_EQ(runs[1].undoneBy, second);
  EXPECT_EQ(runs[1].started.toSecsSinceEpoch(), now.toSecsSinceEpoch());
  journal.deleteRun(first);
  EXPECT_EQ(journal.runs().size(), 1u);
  EXPECT_TRUE(entriesOf(journal, first).empty());
  // A number once given stays given: a terminal may still say "--undo N" for it.
  journal.deleteRun(second);
  EXPECT_TRUE(journal.numbered(second));
  EXPECT_FALSE(journal.numbered(second + 1));
  EXPECT_EQ(Journal(path).beginRun(runStarted(now)), second + 1);
}

TEST_F(JournalTest, PrunesOldRunsThenTheOldestBeyondTheSizeLimitButNeverTheNewest) {
  const JournalLimits limits{90, 3000};
  {
    Journal journal(path, limits);
    const auto runOf = [&](const QDateTime& when, int bytes) {
      const qint64 run = journal.beginRun(runStarted(when));
      journal.record(run, change({"1", "a"}, QByteArray(bytes, 'x'), "y"));
      JournalRun ended;
      ended.id = run;
      ended.end = "Finished";
      journal.endRun(ended);
    };
    runOf(now.addDays(-91), 10);   // too old
    runOf(now.addDays(-5), 1000);  // beyond the size once the newer ones count
    runOf(now.addDays(-4), 1000);
    runOf(now.addDays(-3), 1000);
    runOf(now.addDays(-2), 5000);  // alone beyond the size, but the newest
  }
  Journal journal(path, limits);
  EXPECT_EQ(journal.runs().size(), 1u);
  EXPECT_EQ(journal.runs().at(0).started.daysTo(now), 2);

  journal.prune(now.addDays(100));
  EXPECT_TRUE(journal.runs().empty());
}

// Entries are kept many to a row now; an older version kept one a row. Either way they
// come back in the order written, those of writes that did not happen left out.
TEST_F(JournalTest, EntriesComeBackInOrderFromBatchesAndFromAnOlderVersionsRows) {
  constexpr int Entries = 30000;  // a few megabytes: several batches
  qint64 older = 0, newer = 0;
  {
    Journal journal(path);
    older = journal.beginRun(runStarted(now));
    newer = journal.beginRun(runStarted(now));
    std::vector<RowChange> chunk;
    for (int i = 0; i < Entries; ++i) {
      chunk.push_back(change({QByteArray::number(i), "k"}, QByteArray(100, 'a'), "b"));
      if (chunk.size() < 1000) continue;
      journal.recordAll(newer, chunk);
      journal.settle(newer, WriteSettled::Written, nullptr);
      chunk.clear();
    }
    journal.record(newer, change({"lost", "k"}, "a", "b"));
    journal.settle(newer, WriteSettled::NotWritten, nullptr);
    JournalRun ended;
    ended.id = newer;
    ended.end = "Finished";
    journal.endRun(ended);
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
  for (const char* id : {"1", "2"}) {
    const QByteArray sql = "INSERT INTO entries (run, identity, before, after, state) VALUES (" +
                           QByteArray::number(older) + ", X'" +
                           PackedValues({QByteArray(id)}).toHex() + "', 'x', 'y', 1)";
    ASSERT_EQ(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
  }
  sqlite3_close(db);

  Journal journal(path);
  const std::vector<JournalEntry> entries = entriesOf(journal, newer);
  ASSERT_EQ(entries.size(), std::size_t(Entries));
  for (int i = 0; i < Entries; ++i) {
    ASSERT_EQ(entries[std::size_t(i)].identity, Values({QByteArray::number(i), "k"})) << i;
  }
  EXPECT_EQ(entries.back().before, QByteArray(100, 'a'));
  EXPECT_EQ(journal.run(newer)->entries, Entries);
  const std::vector<JournalEntry> old = entriesOf(journal, older);
  ASSERT_EQ(old.size(), 2u);
  EXPECT_EQ(old[1].identity, Values({"2"}));
  EXPECT_EQ(old[1].after, "y");
  EXPECT_EQ(journal.run(older)->entries, 2);

  // A visit that wants no more stops there, within a batch or among the older rows, and
  // counts what it did not read as nothing damaged.
  qint64 visited = 0;
  EXPECT_EQ(journal.visitEntriesWhile(newer, [&](const JournalEntry&) { return ++visited < 1500; }),
            0);
  EXPECT_EQ(visited, 1500);
  visited = 0;
  EXPECT_EQ(journal.visitEntriesWhile(older, [&](const JournalEntry&) { return ++visited < 1; }),
            0);
  EXPECT_EQ(visited, 1);

  // A batch whose entry claims more bytes than it holds is never read beyond: its entries
  // are counted as damaged, the others still come.
  ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "UPDATE entry_batches SET frames = X'00FFFFFF' || SUBSTR(frames, 5) "
                         "WHERE id = (SELECT MAX(id) FROM entry_batches)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  qint64 intact = 0;
  const qint64 damaged = journal.forEachEntry(newer, [&](const JournalEntry&) { ++intact; });
  EXPECT_GT(damaged, 0);
  EXPECT_GT(intact, 0);
  EXPECT_EQ(intact + damaged, Entries);
}

// An undo reads a run's entries while it journals its own writes, and another connection
// (a run's taker) commits meanwhile: reading holds no snapshot that would refuse the writes.
TEST_F(JournalTest, ARunIsReadWhileTheJournalIsWrittenFromEverywhere) {
  constexpr int Entries = 30000;  // several batches
  Journal journal(path);
  const qint64 run = journal.beginRun(runStarted(now));
  for (int i = 0; i < Entries; i += 1000) {
    std::vector<RowChange> chunk;
    for (int j = i; j < i + 1000; ++j)
      chunk.push_back(change({QByteArray::number(j), "k"}, QByteArray(100, 'a'), "b"));
    journal.recordAll(run, chunk);
    journal.settle(run, WriteSettled::Written, nullptr);
  }
  JournalRun ended;
  ended.id = run;
  ended.end = "Finished";
  journal.endRun(ended);

  Journal elsewhere(path);
  int read = 0;
  journal.forEachEntry(run, [&](const JournalEntry&) {
    if (++read % 10000 != 1) return;
    elsewhere.beginRun(runStarted(now));
    journal.beginRun(runStarted(now));
  });
  EXPECT_EQ(read, Entries);
  EXPECT_EQ(journal.runs().size(), 7u);
}

// A run's entries are taken in as it goes, and a run that never ended is taken in from its
// spool when the journal closes: either way each entry once, settled as it was.
TEST_F(JournalTest, EntriesTakenInAsTheRunGoesOrFromItsSpoolComeBackOnce) {
  constexpr int Chunk = 12000;  // more than a batch holds: stored while the run goes on
  const auto countBatches = [&](qint64 run) {
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_stmt* query = nullptr;
    const QByteArray sql =
        "SELECT COUNT(*) FROM entry_batches WHERE run = " + QByteArray::number(run);
    sqlite3_prepare_v2(db, sql.constData(), -1, &query, nullptr);
    const int batches = sqlite3_step(query) == SQLITE_ROW ? sqlite3_column_int(query, 0) : -1;
    sqlite3_finalize(query);
    sqlite3_close(db);
    return batches;
  };
  const auto recordTheRun = [&](Journal& journal, qint64 run) {
    std::vector<RowChange> chunk;
    for (int i = 0; i < Chunk; ++i) {
      chunk.push_back(change({QByteArray::number(i), "k"}, QByteArray(100, 'a'), "b"));
    }
    journal.recordAll(run, chunk);
    journal.settle(run, WriteSettled::Written);
    journal.record(run, change({"triggered", "k"}, "a", "b"));
    const std::optional<QByteArray> held = QByteArray("held");
    journal.settle(run, WriteSettled::Written, &held);
    journal.recordAll(
        run, std::vector{change({"lost", "k"}, "a", "b"), change({"lost too", "k"}, "a", "b")});
    journal.settle(run, WriteSettled::NotWritten);
    journal.record(run, change({"in doubt", "k"}, "a", "b"));
    journal.settle(run, WriteSettled::InDoubt);
    journal.record(run, change({"never settled", "k"}, "a", "b"));
  };
  qint64 ended = 0, cutShort = 0;
  {
    Journal journal(path);
    ended = journal.beginRun(runStarted(now));
    cutShort = journal.beginRun(runStarted(now));
    recordTheRun(journal, ended);
    JournalRun end;
    end.id = ended;
    end.end = "Finished";
    journal.endRun(end);
    recordTheRun(journal, cutShort);
    // The program ends with the run under way, once some of it is stored already.
    for (int waited = 0; countBatches(cutShort) == 0 && waited < 500; ++waited) {
      QThread::msleep(10);
    }
    ASSERT_GT(countBatches(cutShort), 0);
  }
  Journal journal(path);
  for (const qint64 run : {ended, cutShort}) {
    const std::vector<JournalEntry> entries = entriesOf(journal, run);
    ASSERT_EQ(entries.size(), std::size_t(Chunk + 3)) << run;
    EXPECT_EQ(entries[Chunk - 1].identity, Values({QByteArray::number(Chunk - 1), "k"}));
    EXPECT_EQ(entries[Chunk].identity, Values({"triggered", "k"}));
    EXPECT_EQ(entries[Chunk].after, "held") << "what the row holds, as the trigger left it";
    EXPECT_EQ(entries[Chunk + 1].identity, Values({"in doubt", "k"}));
    EXPECT_EQ(entries[Chunk + 2].identity, Values({"never settled", "k"}));
    EXPECT_EQ(journal.run(run)->entries, Chunk + 3);
  }
}

namespace {

// Runs `record` on a journal at `path` in a child process that then dies, as a program
// killed mid-run does: no run ends, no spool is taken in.
void recordThenDie(const QString& path, const std::function<void(Journal&)>& record) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    {
      Journal journal(path);
      record(journal);
      ::_exit(0);
    }
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

// A recipe's run killed mid-way wrote what its parts wrote, and is undone through them.
TEST_F(JournalTest, ARecipeCutShortCountsWhatItsPartsWrote) {
  constexpr qint64 Whole = 1;  // the journal's first run, begun in the child
  recordThenDie(path, [&](Journal& journal) {
    JournalRun recipe = runStarted(now);
    recipe.field.clear();
    if (journal.beginRun(recipe) != Whole) ::_exit(1);
    JournalRun part = runStarted(now);
    part.partOf = Whole;
    const qint64 a = journal.beginRun(part);
    const qint64 b = journal.beginRun(part);
    journal.recordAll(
        a, std::vector{change({"1", "k"}, "a 1", "a1"), change({"2", "k"}, "a 2", "a2")});
    journal.recordAll(b, std::vector{change({"1", "k"}, "b 1", "b1")});
    journal.settle(a, WriteSettled::Written);
    journal.settle(b, WriteSettled::Written);
    journal.record(a, change({"3", "k"}, "a 3", "a3"));  // killed before it settled
  });
  Journal journal(path);
  const JournalRun recipe = *journal.run(Whole);
  EXPECT_EQ(recipe.end, "");
  EXPECT_EQ(recipe.written, 3);
  EXPECT_EQ(recipe.inDoubt, 1);
  EXPECT_EQ(recipe.entries, 4);
  EXPECT_EQ(journal.runs().at(0).entries, 4) << "as History lists it";
  const std::vector<JournalRun> parts = journal.parts(Whole);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].written + parts[0].inDoubt, 3);
  EXPECT_EQ(entriesOf(journal, parts[1].id).at(0).before, "b 1");
}

// Damage in a spool file loses only what it covers: every intact entry after it is taken
// in, those whose settlement may be lost stay in doubt, and the file is kept aside.
TEST_F(JournalTest, ADamagedSpoolIsReadAroundItsDamageAndKeptAside) {
  constexpr int Chunks = 100, PerChunk = 10;
  recordThenDie(path, [&](Journal& journal) {
    const qint64 run = journal.beginRun(runStarted(now));
    for (int chunk = 0; chunk < Chunks; ++chunk) {
      std::vector<RowChange> changes;
      for (int i = 0; i < PerChunk; ++i) {
        const QByteArray n = QByteArray::number(chunk * PerChunk + i);
        changes.push_back(change({n, "k"}, "old " + n, "new " + n));
      }
      journal.recordAll(run, changes);
      journal.settle(run, chunk % 2 ? WriteSettled::Written : WriteSettled::NotWritten);
    }
  });
  const QString spool = home.path() + "/Klarifeld/spool/run-1";
  QFile file(spool);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  const qint64 size = file.size();
  for (const double at : {0.25, 0.5, 0.75}) {
    file.seek(qint64(size * at));
    file.write(QByteArray(40, '\x5a'));
  }
  file.close();

  Journal journal(path);
  ASSERT_EQ(journal.damagedSpools().size(), 1);
  EXPECT_EQ(journal.damagedSpools()[0].run, 1);
  EXPECT_TRUE(QFile::exists(journal.damagedSpools()[0].keptAs)) << "kept aside, not deleted";
  EXPECT_FALSE(QFile::exists(spool)) << "not taken in a second time";
  std::set<int> found;
  for (const JournalEntry& entry : entriesOf(journal, 1)) {
    const int n = entry.identity.at(0)->toInt();
    EXPECT_EQ(entry.before, "old " + QByteArray::number(n));
    found.insert(n);
  }
  const JournalRun run = *journal.run(1);
  EXPECT_GE(int(found.size()), Chunks * PerChunk / 2 - 3 * 2 * PerChunk);
  EXPECT_TRUE(found.contains(Chunks * PerChunk - 1)) << "what follows the damage is read";
  EXPECT_GT(run.inDoubt, 0) << "entries whose settlement may be lost";
  EXPECT_TRUE(run.damaged) << "History says that some old values are lost";
  EXPECT_EQ(run.written + run.inDoubt, qint64(found.size()));
}

// An entry that cannot be read is left out and counted; the others still come.
TEST_F(JournalTest, ADamagedEntryIsCountedAndTheOthersVisited) {
  qint64 run = 0;
  {
    Journal journal(path);
    run = journal.beginRun(runStarted(now));
    journal.recordAll(run, std::vector{change({"1", "k"}, "a", "b"), change({"2", "k"}, "c", "d"),
                                       change({"3", "k"}, "e", "f")});
    journal.settle(run, WriteSettled::Written);
    JournalRun end;
    end.id = run;
    end.end = "Finished";
    journal.endRun(end);
  }
  sqlite3* db = nullptr;
  sqlite3_open(QFile::encodeName(path).constData(), &db);
  sqlite3_exec(db, "UPDATE entry_batches SET frames = substr(frames, 1, length(frames) - 2)",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
  Journal journal(path);
  std::vector<JournalEntry> entries;
  EXPECT_EQ(journal.forEachEntry(run, [&](const JournalEntry& entry) { entries.push_back(entry); }),
            1);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].before, "c");
}
