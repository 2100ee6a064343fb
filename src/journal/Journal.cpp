#include "Journal.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QStandardPaths>
#include <cstring>

#include "EntryBatches.h"
#include "JournalDatabase.h"
#include "SpoolFile.h"
#include "SpoolTaker.h"

namespace {

const QString SpoolFolder = QStringLiteral("spool");

// One statement, bound by position from 1 and read by column from 0.
class Query {
 public:
  Query(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) fail();
  }
  Query(sqlite3* db, const QByteArray& sql) : Query(db, sql.constData()) {}
  // Borrows a statement prepared once, and leaves it ready for the next use.
  Query(sqlite3* db, sqlite3_stmt* prepared) : db_(db), statement_(prepared), owned_(false) {}
  ~Query() {
    if (owned_) {
      sqlite3_finalize(statement_);
    } else {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& bind(int at, qint64 value) {
    sqlite3_bind_int64(statement_, at, value);
    return *this;
  }
  Query& bind(int at, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(statement_, at, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Query& bind(int at, const std::optional<QByteArray>& value) {
    if (!value) {
      sqlite3_bind_null(statement_, at);
    } else {
      // A static empty text, not a null pointer: an empty value is not a null.
      sqlite3_bind_blob(statement_, at, value->isEmpty() ? "" : value->constData(),
                        int(value->size()), SQLITE_TRANSIENT);
    }
    return *this;
  }
  // True while there is a row to read.
  bool step() {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result != SQLITE_DONE) fail();
    return false;
  }
  void run() {
    while (step()) {
    }
    sqlite3_reset(statement_);
  }
  qint64 integer(int column) const { return sqlite3_column_int64(statement_, column); }
  QString text(int column) const {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement_, column)),
                             sqlite3_column_bytes(statement_, column));
  }
  std::optional<QByteArray> blob(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return QByteArray(static_cast<const char*>(sqlite3_column_blob(statement_, column)),
                      sqlite3_column_bytes(statement_, column));
  }

 private:
  [[noreturn]] void fail() const {
    throw JournalError(std::string("journal: ") + sqlite3_errmsg(db_));
  }
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
  bool owned_ = true;
};

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

// Appends a frame of `parts` to `frames`: its length, then the parts packed.
void appendFrame(QByteArray& frames, std::initializer_list<std::optional<QByteArrayView>> parts) {
  const qsizetype start = frames.size();
  frames.resize(start + qsizetype(sizeof(quint32)));  // the length, once known
  for (const std::optional<QByteArrayView>& part : parts) AppendPackedValue(frames, part);
  const quint32 length = quint32(frames.size() - start - qsizetype(sizeof(quint32)));
  std::memcpy(frames.data() + start, &length, sizeof length);
}

std::optional<QByteArrayView> viewOf(const std::optional<QByteArray>& value) {
  return value ? std::optional<QByteArrayView>(*value) : std::nullopt;
}

// An entry's or a settlement's frame: three parts.
QByteArray frameOf(const RowValues& parts) {
  QByteArray frame;
  appendFrame(frame, {viewOf(parts[0]), viewOf(parts[1]), viewOf(parts[2])});
  return frame;
}

// The frames of the entries that a settlement keeps. One that says what the row holds is
// of a lone entry whose value a trigger changed: the entry keeps that value instead.
QByteArray keptFrames(QByteArray frames, qint64 entries, const std::optional<QByteArray>* holds) {
  if (!holds || entries != 1) return frames;
  RowValues parts = UnpackedValues(frames.sliced(sizeof(quint32)));
  parts.resize(3);
  parts[2] = *holds;
  return frameOf(parts);
}

// `identity` is room to pack the identity in, kept from entry to entry.
void appendEntryFrame(QByteArray& frames, const RowChange& change, QByteArray& identity) {
  identity.resize(0);
  for (const std::optional<QByteArray>& value : change.identity) {
    AppendPackedValue(identity, viewOf(value));
  }
  appendFrame(frames, {QByteArrayView(identity), viewOf(change.before), viewOf(change.after)});
}

QByteArray settlementRecord(WriteSettled how, const std::optional<QByteArray>* holds) {
  QByteArray parts;
  for (const std::optional<QByteArray>& part :
       {std::optional(QByteArray(1, char(how))), std::optional(QByteArray(holds ? "1" : "0")),
        holds ? *holds : std::nullopt}) {
    AppendPackedValue(parts, viewOf(part));
  }
  return SpoolFormat::settlementRecord(parts);
}

// What the entries of a journal say of their writes.
enum EntryState : qint64 { WrittenEntry = 1, InDoubtEntry = 2 };

void writeFully(int file, const QByteArray& bytes) {
  const char* at = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(file, at, size_t(left));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      throw JournalError(std::string("journal: cannot write the spool file (") +
                         std::strerror(written < 0 ? errno : ENOSPC) + ")");
    }
    at += written;
    left -= written;
  }
}

[[noreturn]] void refuse(const QString& path, const char* why) {
  throw JournalError(QStringLiteral("journal: %1 %2, so the journal is not kept there")
                         .arg(path, QLatin1String(why))
                         .toStdString());
}

// A folder of the user's alone: made 0700 when missing; one that is a link, belongs to
// another user or that others may write to is refused, since they could put files of
// their choosing in the journal's place.
void requirePrivateFolder(const QString& folder) {
  const QByteArray name = QFile::encodeName(folder);
  if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
    if (errno != ENOENT) refuse(folder, "cannot be made");
    requirePrivateFolder(QFileInfo(folder).absolutePath());
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) refuse(folder, "cannot be made");
  }
  struct stat status {};
  if (::lstat(name.constData(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    refuse(folder, "is not a folder (or is a link to one)");
  }
  if (status.st_uid != ::geteuid()) refuse(folder, "belongs to another user");
  if (status.st_mode & (S_IWGRP | S_IWOTH)) refuse(folder, "can be written by other users");
}

// Opens `path` in a private folder without following a link, as a file of the user's
// alone (0600): it holds the user's data.
int openPrivately(const QString& path, int flags) {
  const int file =
      ::open(QFile::encodeName(path).constData(), flags | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file < 0) refuse(path, errno == ELOOP ? "is a link" : "cannot be opened");
  struct stat status {};
  const bool yours =
      ::fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
  if (!yours || ((status.st_mode & 077) && ::fchmod(file, 0600) != 0)) {
    ::close(file);
    refuse(path, yours ? "cannot be made private" : "is not a file of yours");
  }
  return file;
}

// Made readable by the user only, before the library opens it.
void createPrivately(const QString& path) {
  requirePrivateFolder(QFileInfo(path).absolutePath());
  ::close(openPrivately(path, O_WRONLY));
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
    "part.part_of = runs.id AND part.damaged)";

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
  createPrivately(path_);
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
      "CREATE INDEX IF NOT EXISTS batches_of_run ON entry_batches (run, id);");
  // Journals of older versions kept every entry tried, written or not: in doubt.
  addColumnIfMissing("entries", "state", "INTEGER");
  addColumnIfMissing("runs", "restored", "INTEGER");
  addColumnIfMissing("runs", "cluster", "TEXT");
  // A recipe's parts go with it when it is pruned or deleted.
  addColumnIfMissing("runs", "part_of", "INTEGER REFERENCES runs(id) ON DELETE CASCADE");
  addColumnIfMissing("runs", "damaged", "INTEGER");
}

void Journal::addColumnIfMissing(const char* table, const char* column, const char* type) {
  Query found(db_, "SELECT COUNT(*) FROM pragma_table_info(?) WHERE name = ?");
  found.bind(1, QString::fromLatin1(table)).bind(2, QString::fromLatin1(column));
  if (found.step() && found.integer(0) == 0) {
    exec(QByteArray("ALTER TABLE ") + table + " ADD COLUMN " + column + ' ' + type);
  }
}

qint64 Journal::beginRun(const JournalRun& run) {
  Query insert(db_,
               "INSERT INTO runs (started, server, port, database, table_name, field, operation, "
               "answers, undoes, cluster, part_of) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
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
  insert.run();
  return sqlite3_last_insert_rowid(db_);
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

QString Journal::spoolFolder() const {
  return QFileInfo(path_).absolutePath() + u'/' + SpoolFolder;
}

QString Journal::spoolPath(qint64 run) const {
  return spoolFolder() + QStringLiteral("/run-%1").arg(run);
}

void Journal::record(qint64 run, const RowChange& change) {
  if (!described_.contains(run)) describe(run, change);
  Spool& spool = spoolOf(run);
  QByteArray frame, identity;
  appendEntryFrame(frame, change, identity);
  spool.write(SpoolFormat::entryRecords(frame), writeHook_);
  ++spool.unsettled;
  if (spool.taker) spool.unsettledFrames += frame;
}

void Journal::recordAll(qint64 run, std::span<const RowChange> changes) {
  if (changes.empty()) return;
  if (!described_.contains(run)) describe(run, changes.front());
  Spool& spool = spoolOf(run);
  QByteArray frames, identity;
  for (const RowChange& change : changes) appendEntryFrame(frames, change, identity);
  spool.write(SpoolFormat::entryRecords(frames), writeHook_, true);
  spool.unsettled += qint64(changes.size());
  if (spool.taker) spool.unsettledFrames += frames;
}

void Journal::settle(qint64 run, WriteSettled how, const std::optional<QByteArray>* holds) {
  const auto spool = spools_.find(run);
  if (spool == spools_.end() || spool->second.unsettled == 0) return;
  Spool& settling = spool->second;
  settling.write(settlementRecord(how, holds), writeHook_);
  if (settling.taker && how != WriteSettled::NotWritten) {
    settling.taker->take(keptFrames(std::move(settling.unsettledFrames), settling.unsettled, holds),
                         how == WriteSettled::InDoubt);
  }
  settling.unsettledFrames.clear();
  settling.unsettled = 0;
}

// A frame cut short would make the frames after it unreadable: after a failed write the
// spool takes nothing more, and its run's last entries stay in doubt.
void Journal::Spool::write(const QByteArray& frame, const std::function<void()>& hook,
                           bool durable) {
  if (!failure.empty()) throw JournalError(failure);
  try {
    if (hook) hook();
    writeFully(file, frame);
    if (durable && ::fdatasync(file) != 0) {
      throw JournalError(std::string("journal: cannot sync the spool file (") +
                         std::strerror(errno) + ")");
    }
  } catch (const JournalError& failed) {
    failure = failed.what();
    throw;
  }
}

Journal::Spool& Journal::spoolOf(qint64 run) {
  auto spool = spools_.find(run);
  if (spool == spools_.end()) {
    const QString path = spoolPath(run);
    requirePrivateFolder(QFileInfo(path).absolutePath());
    const int file = openPrivately(path, O_WRONLY | O_APPEND);
    // Held while the run goes on: a spool that can be locked belongs to a program gone.
    if (::flock(file, LOCK_EX) != 0) {
      ::close(file);
      throw JournalError("journal: cannot lock " + path.toStdString());
    }
    Spool opened;
    opened.file = file;
    struct stat status {};
    if (::fstat(file, &status) == 0 && status.st_size == 0) {
      try {
        writeFully(file, SpoolFormat::header());
      } catch (const JournalError&) {
        ::close(file);
        throw;
      }
    }
    try {
      opened.taker = std::make_unique<SpoolTaker>(path_, run);
    } catch (const JournalError&) {
      // Taken in from the spool when the run ends.
    }
    spool = spools_.emplace(run, std::move(opened)).first;
  }
  return spool->second;
}

// Entries whose writes did not happen are left out; those never settled (the program
// ended first) are in doubt, as are those of an older program's spool, which did not
// settle its entries, and those whose settlement may have been lost in a damaged stretch.
// A damaged spool is kept aside, for the user to see.
void Journal::takeIn(qint64 run) {
  SpoolReader spool(spoolPath(run));
  if (!this->run(run)) {
    ::unlink(QFile::encodeName(spoolPath(run)).constData());  // its run was deleted
    return;
  }
  QByteArray unsettled;  // the frames of the entries since the last settlement
  qint64 unsettledEntries = 0;
  bool uncertain = false;  // a damaged stretch lies between them and their settlement
  {
    JournalTransaction taking(db_);
    // What a taker stored of the run gives way to the spool, whole.
    Query(db_, "DELETE FROM entry_batches WHERE run = ?").bind(1, run).run();
    EntryBatches batches(db_, run);
    const auto keep = [&](EntryState state, const std::optional<QByteArray>* holds) {
      if (unsettledEntries > 0) {
        batches.add(keptFrames(std::move(unsettled), unsettledEntries, holds),
                    state == InDoubtEntry);
      }
      unsettled.clear();
      unsettledEntries = 0;
      uncertain = false;
    };
    for (SpoolFrame frame = spool.next(); !frame.end; frame = spool.next()) {
      uncertain = uncertain || frame.afterDamage;
      if (!frame.settlement) {
        unsettled += frame.frame;
        ++unsettledEntries;
        continue;
      }
      const QByteArray settledHow = frame.parts[0].value_or(QByteArray());
      const auto how = WriteSettled(settledHow.isEmpty() ? 0 : settledHow.at(0));
      const std::optional<QByteArray>* holds =
          frame.parts[1] == QByteArray("1") ? &frame.parts[2] : nullptr;
      if (uncertain) {
        keep(InDoubtEntry, nullptr);
      } else if (how == WriteSettled::NotWritten) {
        unsettled.clear();
        unsettledEntries = 0;
      } else {
        keep(how == WriteSettled::Written ? WrittenEntry : InDoubtEntry, holds);
      }
    }
    keep(InDoubtEntry, nullptr);
    batches.store();
    if (spool.damaged()) Query(db_, "UPDATE runs SET damaged = 1 WHERE id = ?").bind(1, run).run();
    taking.commit();
  }
  if (spool.damaged()) {
    const QString aside = spoolFolder() + QStringLiteral("/damaged-run-%1").arg(run);
    if (QFile::rename(spoolPath(run), aside)) damagedSpools_.push_back({run, aside});
  } else {
    ::unlink(QFile::encodeName(spoolPath(run)).constData());
  }
}

// A recipe's run cut short wrote what its parts wrote.
void Journal::countAbandonedWhole(qint64 part) {
  Query(db_,
        "UPDATE runs SET entries = NULL, "
        "written = (SELECT COALESCE(SUM(written), 0) FROM runs AS p WHERE p.part_of = runs.id), "
        "in_doubt = (SELECT COALESCE(SUM(in_doubt), 0) FROM runs AS p WHERE p.part_of = runs.id) "
        "WHERE id = (SELECT part_of FROM runs WHERE id = ?) AND end_kind IS NULL")
      .bind(1, part)
      .run();
}

void Journal::takeInAbandonedSpools() {
  const QString folder = spoolFolder();
  QDirIterator spools(folder, {QStringLiteral("run-*")}, QDir::Files);
  while (spools.hasNext()) {
    const QString path = spools.next();
    const qint64 run = QFileInfo(path).fileName().mid(4).toLongLong();
    const int file = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (file < 0) continue;
    if (::flock(file, LOCK_EX | LOCK_NB) == 0) {
      try {
        takeIn(run);
        // What the run wrote, as its entries tell: its own counts were never kept.
        Query(db_, "UPDATE runs SET entries = NULL, written = " +
                       entriesSql("?1", "state = 1", "entries - in_doubt") + ", in_doubt = " +
                       entriesSql("?1", "state IS NOT 1", "in_doubt") + " WHERE id = ?1")
            .bind(1, run)
            .run();
        countAbandonedWhole(run);
      } catch (const JournalError&) {
        // Left for the next start.
      }
    }
    ::close(file);
  }
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
  qsizetype identityColumns = 0;
  {
    Query described(db_, "SELECT identity_columns FROM runs WHERE id = ?");
    described.bind(1, run);
    const QByteArray columns = described.step() ? described.blob(0).value_or(QByteArray()) : "";
    if (!columns.isEmpty()) identityColumns = columns.count('\0') + 1;
  }
  qint64 damaged = 0;
  // An entry that is not whole, or whose identity does not fit the run's, finds no row.
  const auto visitIntact = [&](JournalEntry entry) {
    if (identityColumns > 0 && entry.identity.size() != std::size_t(identityColumns)) {
      ++damaged;
    } else {
      visit(entry);
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
    for (JournalEntry& entry : page) visitIntact(std::move(entry));
  }
  for (after = 0;;) {
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
    for (qsizetype at = 0; at + qsizetype(sizeof(quint32)) <= frames.size(); ++read) {
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
    damaged += std::max<qint64>(entries - read, 0);
  }
  return damaged;
}

qint64 Journal::sizeOnDisk() const {
  return QFileInfo(path_).size() + QFileInfo(path_ + QStringLiteral("-wal")).size();
}

void JournalRecorder::aboutToWrite(const RowChange& change) {
  keepingFailure([&] { journal_.record(run_, change); });
}

void JournalRecorder::aboutToWriteAll(std::span<const RowChange> changes) {
  keepingFailure([&] { journal_.recordAll(run_, changes); });
}

// Once the journal failed, nothing more is recorded: every later write is refused too.
void JournalRecorder::keepingFailure(const std::function<void()>& record) {
  if (failed()) throw JournalError(failure().toStdString());
  try {
    record();
  } catch (const JournalError& failure) {
    keep(failure);
    throw;
  }
}

void JournalRecorder::keep(const JournalError& failure) {
  const std::lock_guard lock(mutex_);
  if (failure_.isEmpty()) failure_ = QString::fromUtf8(failure.what());
  failed_.store(true, std::memory_order_release);
}

QString JournalRecorder::failure() const {
  const std::lock_guard lock(mutex_);
  return failure_;
}

void JournalRecorder::settled(WriteSettled how, const std::optional<QByteArray>* holds) {
  try {
    journal_.settle(run_, how, holds);
  } catch (const JournalError& failure) {
    keep(failure);
  }
}
