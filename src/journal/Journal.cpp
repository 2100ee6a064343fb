#include "Journal.h"

#include <sqlite3.h>
#include <unistd.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QStandardPaths>
#include <cstring>

#include "EntryBatches.h"
#include "JournalDatabase.h"
#include "PrivateFiles.h"
#include "SpoolTaker.h"

namespace {

using Query = JournalQuery;

QString answersText(const QStringList& answers) {
  return QString::fromUtf8(
      QJsonDocument(QJsonArray::fromStringList(answers)).toJson(QJsonDocument::Compact));
}

QStringList answersOf(const QString& text) {
  QStringList answers;
  for (const QJsonValue& answer : QJsonDocument::fromJson(text.toUtf8()).array()) {
    answers << answer.toString();
  }
  return answers;
}

// The entries that run `run` (an SQL expression) keeps, in either form, with `condition` on
// the one and the other.
QByteArray entriesSql(const QByteArray& run, const char* condition = "1",
                      const char* batchCount = "entries") {
  return "((SELECT COUNT(*) FROM entries WHERE run = " + run + " AND " + condition +
         ") + (SELECT COALESCE(SUM(" + batchCount + "), 0) FROM entry_batches WHERE run = " + run +
         "))";
}
QByteArray entryBytesSql(const QByteArray& run) {
  return "((SELECT COALESCE(SUM(LENGTH(identity) + LENGTH(before) + LENGTH(after)), 0) FROM "
         "entries WHERE run = " +
         run + ") + (SELECT COALESCE(SUM(bytes), 0) FROM entry_batches WHERE run = " + run + "))";
}

// The entries of run `run` and of its parts, for a run whose count was never kept.
QByteArray wholeEntriesSql(const QByteArray& run) {
  return entriesSql(run) + " + (SELECT COALESCE(SUM(COALESCE(part.entries, " +
         entriesSql("part.id") + ")), 0) FROM runs AS part WHERE part.part_of = " + run + ")";
}

// A run cut short by another program still running counts its entries as it goes.
const QByteArray RunColumns =
    "id, started, server, port, database, table_name, field, operation, answers, undoes, "
    "undone_by, end_kind, written, unchanged, reported, in_doubt, COALESCE(entries, " +
    wholeEntriesSql("runs.id") +
    "), identity_columns, keyed, column_name, COALESCE(restored, 0), COALESCE(cluster, ''), "
    "COALESCE(part_of, 0), COALESCE(damaged, 0) OR EXISTS (SELECT 1 FROM runs AS part WHERE "
    "part.part_of = runs.id AND part.damaged), COALESCE(row_condition, ''), "
    "COALESCE(engine, '')";

JournalRun runOf(const Query& row) {
  JournalRun run;
  run.id = row.integer(0);
  run.started = QDateTime::fromString(row.text(1), Qt::ISODateWithMs);
  run.server = row.text(2);
  run.port = row.text(3);
  run.database = row.text(4);
  run.table = row.text(5);
  run.field = row.text(6);
  run.operation = row.text(7);
  run.answers = answersOf(row.text(8));
  run.undoes = row.integer(9);
  run.undoneBy = row.integer(10);
  run.end = row.text(11);
  run.written = row.integer(12);
  run.unchanged = row.integer(13);
  run.reported = row.integer(14);
  run.inDoubt = row.integer(15);
  run.entries = row.integer(16);
  const QByteArray columns = row.blob(17).value_or(QByteArray());
  if (!columns.isEmpty()) run.identityColumns = columns.split('\0');
  run.keyed = row.integer(18) != 0;
  run.column = row.blob(19).value_or(QByteArray());
  run.restored = row.integer(20);
  run.cluster = row.text(21);
  run.partOf = row.integer(22);
  run.damaged = row.integer(23) != 0;
  run.rows = row.text(24);
  run.engine = row.text(25);
  return run;
}

std::vector<JournalRun> runsOf(Query& rows) {
  std::vector<JournalRun> found;
  while (rows.step()) found.push_back(runOf(rows));
  return found;
}

}  // namespace

QString Journal::defaultPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/Klarifeld/journal.sqlite3");
}

Journal::Journal(QString path, JournalLimits limits) : path_(std::move(path)), limits_(limits) {
  CreatePrivately(path_);
  db_ = OpenJournalDatabase(path_);
  try {
    exec("PRAGMA auto_vacuum = INCREMENTAL");
    exec("PRAGMA journal_mode = WAL");
    createSchema();
    takeInAbandonedSpools();
    prune(QDateTime::currentDateTimeUtc());
  } catch (...) {
    // No destructor runs for a journal that did not open.
    sqlite3_close(db_);
    throw;
  }
}

Journal::~Journal() {
  for (auto& [run, spool] : spools_) {
    spool.taker.reset();  // a run that did not end is taken in from its spool, whole
    try {
      takeIn(run);
    } catch (const JournalError&) {
      // The spool file stays, for the next start to take in.
    }
    ::close(spool.file);
  }
  sqlite3_close(db_);
}

void Journal::exec(const char* sql) const {
  ExecJournalSql(db_, sql);
}

void Journal::createSchema() {
  exec(
      "CREATE TABLE IF NOT EXISTS runs (id INTEGER PRIMARY KEY, started TEXT NOT NULL, "
      "server TEXT, port TEXT, database TEXT, table_name TEXT, field TEXT, operation TEXT, "
      "answers TEXT, undoes INTEGER, undone_by INTEGER, end_kind TEXT, written INTEGER, "
      "unchanged INTEGER, reported INTEGER, in_doubt INTEGER, entries INTEGER, bytes INTEGER, "
      "identity_columns BLOB, keyed INTEGER, column_name BLOB);"
      "CREATE TABLE IF NOT EXISTS entries (id INTEGER PRIMARY KEY, "
      "run INTEGER NOT NULL REFERENCES runs(id) ON DELETE CASCADE, identity BLOB, before BLOB, "
      "after BLOB);"
      "CREATE INDEX IF NOT EXISTS entries_of_run ON entries (run, id);"
      // Entries are kept many to a row, as their spool frames: one row each would cost
      // more than the writes they keep.
      "CREATE TABLE IF NOT EXISTS entry_batches (id INTEGER PRIMARY KEY, "
      "run INTEGER NOT NULL REFERENCES runs(id) ON DELETE CASCADE, entries INTEGER NOT NULL, "
      "in_doubt INTEGER NOT NULL, bytes INTEGER NOT NULL, frames BLOB NOT NULL);"
      "CREATE INDEX IF NOT EXISTS batches_of_run ON entry_batches (run, id);"
      // The highest run number given, so that none is given twice: a deleted newest run
      // would otherwise lend its number to the next.
      "CREATE TABLE IF NOT EXISTS run_numbers (highest INTEGER NOT NULL);"
      "INSERT INTO run_numbers SELECT COALESCE(MAX(id), 0) FROM runs "
      "WHERE NOT EXISTS (SELECT 1 FROM run_numbers);");
  // Journals of older versions kept every entry tried, written or not: in doubt.
  addColumnIfMissing("entries", "state", "INTEGER");
  addColumnIfMissing("runs", "restored", "INTEGER");
  addColumnIfMissing("runs", "cluster", "TEXT");
  // A recipe's parts go with it when it is pruned or deleted.
  addColumnIfMissing("runs", "part_of", "INTEGER REFERENCES runs(id) ON DELETE CASCADE");
  addColumnIfMissing("runs", "damaged", "INTEGER");
  addColumnIfMissing("runs", "row_condition", "TEXT");
  addColumnIfMissing("runs", "engine", "TEXT");
}

void Journal::addColumnIfMissing(const char* table, const char* column, const char* type) {
  Query found(db_, "SELECT COUNT(*) FROM pragma_table_info(?) WHERE name = ?");
  found.bind(1, QString::fromLatin1(table)).bind(2, QString::fromLatin1(column));
  if (found.step() && found.integer(0) == 0) {
    exec(QByteArray("ALTER TABLE ") + table + " ADD COLUMN " + column + ' ' + type);
  }
}

qint64 Journal::beginRun(const JournalRun& run) {
  JournalTransaction numbering(db_);
  Query insert(db_,
               "INSERT INTO runs (id, started, server, port, database, table_name, field, "
               "operation, answers, undoes, cluster, part_of, row_condition, engine) VALUES "
               "((SELECT MAX(highest, COALESCE((SELECT MAX(id) FROM runs), 0)) + 1 FROM "
               "run_numbers), ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.bind(1, run.started.toUTC().toString(Qt::ISODateWithMs))
      .bind(2, run.server)
      .bind(3, run.port)
      .bind(4, run.database)
      .bind(5, run.table)
      .bind(6, run.field)
      .bind(7, run.operation)
      .bind(8, answersText(run.answers))
      .bind(9, run.undoes)
      .bind(10, run.cluster);
  if (run.partOf) insert.bind(11, run.partOf);  // else null: a run of its own
  if (!run.rows.isEmpty()) insert.bind(12, run.rows);
  if (!run.engine.isEmpty()) insert.bind(13, run.engine);
  insert.run();
  const qint64 id = sqlite3_last_insert_rowid(db_);
  Query(db_, "UPDATE run_numbers SET highest = ?").bind(1, id).run();
  numbering.commit();
  return id;
}

bool Journal::numbered(qint64 id) const {
  Query highest(db_, "SELECT highest FROM run_numbers");
  return id >= 1 && highest.step() && id <= highest.integer(0);
}

void Journal::describe(qint64 run, const RowChange& change) {
  Query(db_, "UPDATE runs SET identity_columns = ?, keyed = ?, column_name = ? WHERE id = ?")
      .bind(1, std::optional(change.identityColumns.join('\0')))
      .bind(2, qint64(change.keyed))
      .bind(3, std::optional(change.column))
      .bind(4, run)
      .run();
  described_.insert(run);
}

// What a run whose program died wrote, as its entries tell: its own counts were never kept.
// A recipe's run cut short wrote what its parts wrote.
void Journal::countTakenIn(qint64 run) {
  Query(db_, "UPDATE runs SET entries = NULL, written = " +
                 entriesSql("?1", "state = 1", "entries - in_doubt") + ", in_doubt = " +
                 entriesSql("?1", "state IS NOT 1", "in_doubt") + " WHERE id = ?1")
      .bind(1, run)
      .run();
  Query(db_,
        "UPDATE runs SET entries = NULL, "
        "written = (SELECT COALESCE(SUM(written), 0) FROM runs AS p WHERE p.part_of = runs.id), "
        "in_doubt = (SELECT COALESCE(SUM(in_doubt), 0) FROM runs AS p WHERE p.part_of = runs.id) "
        "WHERE id = (SELECT part_of FROM runs WHERE id = ?) AND end_kind IS NULL")
      .bind(1, run)
      .run();
}

void Journal::endRun(const JournalRun& run) {
  if (endHook_) endHook_();
  if (const auto found = spools_.find(run.id); found != spools_.end()) {
    Spool spool = std::move(found->second);
    spools_.erase(found);
    const auto closeFile = qScopeGuard([&spool] { ::close(spool.file); });
    bool taken = false;
    if (spool.taker) {
      // Entries never settled are in doubt.
      if (spool.unsettled > 0) spool.taker->take(std::move(spool.unsettledFrames), true);
      taken = spool.taker->finish();
    }
    if (taken) {
      ::unlink(QFile::encodeName(spoolPath(run.id)).constData());
    } else {
      takeIn(run.id);
    }
  }
  Query end(db_,
            "UPDATE runs SET end_kind = ?, written = ?, unchanged = ?, reported = ?, "
            "in_doubt = ?, entries = " +
                entriesSql("?6") +
                " + (SELECT COALESCE(SUM(entries), 0) FROM runs WHERE part_of = ?6), bytes = " +
                entryBytesSql("?6") + " WHERE id = ?6");
  end.bind(1, run.end)
      .bind(2, run.written)
      .bind(3, run.unchanged)
      .bind(4, run.reported)
      .bind(5, run.inDoubt)
      .bind(6, run.id)
      .run();
}

void Journal::markUndone(qint64 run, qint64 undoRun) {
  Query(db_, "UPDATE runs SET undone_by = ?, restored = entries WHERE id = ?")
      .bind(1, undoRun)
      .bind(2, run)
      .run();
}

void Journal::markPartlyUndone(qint64 run, qint64 restored) {
  Query(db_, "UPDATE runs SET restored = ? WHERE id = ?").bind(1, restored).bind(2, run).run();
}

void Journal::deleteRun(qint64 run) {
  Query(db_, "DELETE FROM runs WHERE id = ?").bind(1, run).run();
  exec("PRAGMA incremental_vacuum");
}

void Journal::prune(const QDateTime& now) {
  // A run cut short never had its size counted: its parts first, then the whole.
  exec("UPDATE runs SET entries = " + entriesSql("runs.id") +
       ", bytes = " + entryBytesSql("runs.id") + " WHERE entries IS NULL AND part_of IS NOT NULL");
  exec("UPDATE runs SET entries = " + wholeEntriesSql("runs.id") +
       ", bytes = " + entryBytesSql("runs.id") + " WHERE entries IS NULL");
  Query(db_, "DELETE FROM runs WHERE started < ?")
      .bind(1, now.addDays(-limits_.keepDays).toUTC().toString(Qt::ISODateWithMs))
      .run();
  // The newest run stays, however large: it is the one most likely to be taken back.
  Query sizes(db_, "SELECT id, bytes FROM runs ORDER BY id DESC");
  qint64 kept = 0;
  qint64 firstGone = 0;
  for (bool newest = true; sizes.step(); newest = false) {
    kept += sizes.integer(1);
    if (kept > limits_.keepBytes && !newest) {
      firstGone = sizes.integer(0);
      break;
    }
  }
  if (firstGone) Query(db_, "DELETE FROM runs WHERE id <= ?").bind(1, firstGone).run();
  exec("PRAGMA incremental_vacuum");
}

std::vector<JournalRun> Journal::runs() const {
  Query all(db_, "SELECT " + RunColumns + " FROM runs WHERE part_of IS NULL ORDER BY id DESC");
  return runsOf(all);
}

std::vector<JournalRun> Journal::parts(qint64 whole) const {
  Query all(db_, "SELECT " + RunColumns + " FROM runs WHERE part_of = ? ORDER BY id");
  all.bind(1, whole);
  return runsOf(all);
}

std::optional<JournalRun> Journal::run(qint64 id) const {
  Query one(db_, "SELECT " + RunColumns + " FROM runs WHERE id = ?");
  one.bind(1, id);
  if (!one.step()) return std::nullopt;
  return runOf(one);
}

// A page of a run's rows at a time, each page's statement ended before its rows are
// visited: a visitor that writes the journal (an undo journals its own writes as it reads)
// meets no read of this connection that another connection's commit has made stale.
qint64 Journal::forEachEntry(qint64 run,
                             const std::function<void(const JournalEntry&)>& visit) const {
  return visitEntriesWhile(run, [&](const JournalEntry& entry) {
    visit(entry);
    return true;
  });
}

qint64 Journal::visitEntriesWhile(qint64 run,
                                  const std::function<bool(const JournalEntry&)>& visit) const {
  qsizetype identityColumns = 0;
  {
    Query described(db_, "SELECT identity_columns FROM runs WHERE id = ?");
    described.bind(1, run);
    const QByteArray columns = described.step() ? described.blob(0).value_or(QByteArray()) : "";
    if (!columns.isEmpty()) identityColumns = columns.count('\0') + 1;
  }
  qint64 damaged = 0;
  bool going = true;
  // An entry that is not whole, or whose identity does not fit the run's, finds no row.
  const auto visitIntact = [&](JournalEntry entry) {
    if (identityColumns > 0 && entry.identity.size() != std::size_t(identityColumns)) {
      ++damaged;
    } else {
      going = visit(entry);
    }
  };
  // A journal of an older version kept an entry a row.
  qint64 after = 0;
  for (std::vector<JournalEntry> page;; page.clear()) {
    {
      Query rows(db_,
                 "SELECT id, identity, before, after FROM entries WHERE run = ? AND id > ? "
                 "ORDER BY id LIMIT 1000");
      rows.bind(1, run).bind(2, after);
      while (rows.step()) {
        after = rows.integer(0);
        page.push_back(
            {UnpackedValues(rows.blob(1).value_or(QByteArray())), rows.blob(2), rows.blob(3)});
      }
    }
    if (page.empty()) break;
    for (JournalEntry& entry : page) {
      if (going) visitIntact(std::move(entry));
    }
    if (!going) return damaged;
  }
  for (after = 0; going;) {
    QByteArray frames;
    qint64 entries = 0;
    {
      Query batch(db_,
                  "SELECT id, frames, entries FROM entry_batches WHERE run = ? AND id > ? "
                  "ORDER BY id LIMIT 1");
      batch.bind(1, run).bind(2, after);
      if (!batch.step()) break;
      after = batch.integer(0);
      frames = batch.blob(1).value_or(QByteArray());
      entries = batch.integer(2);
    }
    qint64 read = 0;
    for (qsizetype at = 0; going && at + qsizetype(sizeof(quint32)) <= frames.size(); ++read) {
      quint32 length = 0;
      memcpy(&length, frames.constData() + at, sizeof length);
      at += sizeof length;
      if (length > quint64(frames.size() - at)) break;  // the rest of the batch is lost
      const RowValues parts =
          UnpackedValues(QByteArray::fromRawData(frames.constData() + at, length));
      at += length;
      if (parts.size() != 3) {
        ++damaged;
        continue;
      }
      visitIntact({UnpackedValues(parts[0].value_or(QByteArray())), parts[1], parts[2]});
    }
    if (going) damaged += std::max<qint64>(entries - read, 0);
  }
  return damaged;
}

qint64 Journal::sizeOnDisk() const {
  return QFileInfo(path_).size() + QFileInfo(path_ + QStringLiteral("-wal")).size();
}
