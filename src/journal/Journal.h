#pragma once

#include <QByteArrayList>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

#include "RowChange.h"

struct sqlite3;
class SpoolTaker;
struct sqlite3_stmt;

class JournalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the journal keeps: runs younger than keepDays, the newest first up to keepBytes
// of entries in all.
struct JournalLimits {
  int keepDays = 90;
  qint64 keepBytes = qint64(1) << 30;
};

// One run as the journal keeps it.
struct JournalRun {
  qint64 id = 0;
  QDateTime started;  // UTC
  QString server;
  QString port;
  QString database;
  QString cluster;  // the Galera cluster of the server; empty for a server on its own
  QString engine;   // "PostgreSQL"; empty for MariaDB and MySQL
  QString table;
  QString field;
  QString operation;
  QStringList answers;
  QString rows;  // the row condition it ran under; empty: every row
  // The run of a recipe that this one is a part of: the part that wrote one field. 0 for a
  // run on its own, or a whole.
  qint64 partOf = 0;
  qint64 undoes = 0;    // the run that this one took back; 0 for a run of an operation
  qint64 undoneBy = 0;  // the run that took this one back whole; 0 while it stands
  qint64 restored = 0;  // rows whose old values the last undo found back in place
  // "Finished", "Stopped", "ConnectionLost"; empty for a run under way or cut short.
  QString end;
  qint64 written = 0;
  qint64 unchanged = 0;
  qint64 reported = 0;
  qint64 inDoubt = 0;
  qint64 entries = 0;    // old values kept, by the run or its parts
  bool damaged = false;  // some of its old values were lost to a damaged spool file
  // How the entries find their rows, once the run has one.
  QByteArrayList identityColumns;
  bool keyed = false;
  QByteArray column;
};

struct JournalEntry {
  std::vector<std::optional<QByteArray>> identity;
  std::optional<QByteArray> before;
  std::optional<QByteArray> after;
};

// The old value of every write, kept on the user's machine so that any run can be taken
// back later. An entry is handed to the system before its value is written to the
// database, so it survives the program being killed at any moment: during a run, into a
// spool file of the run's own (one write each, cheap); into the database as they settle, on
// a thread of their own, so that the run's end waits only for the last; for a run whose
// program died, from its spool. Pruned beyond its limits, oldest first.
class Journal {
 public:
  // $XDG_DATA_HOME/Klarifeld/journal.sqlite3
  static QString defaultPath();

  // Opens the journal at `path`, made readable by the user only, and prunes it.
  explicit Journal(QString path, JournalLimits limits = {});
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  qint64 beginRun(const JournalRun& run);
  // Handed to the system when it returns; in the database by the time the run ends.
  void record(qint64 run, const RowChange& change);
  // A chunk's entries in one write, on the disk when it returns (a power cut keeps them
  // too), so that they stand before the chunk is committed.
  void recordAll(qint64 run, std::span<const RowChange> changes);
  // What became of the writes of the entries recorded since the last settlement: only
  // those written, or in doubt, stay in the journal. Entries never settled are in doubt.
  void settle(qint64 run, WriteSettled how, const std::optional<QByteArray>* holds = nullptr);
  // Moves the run's entries into the database and keeps how it ended.
  void endRun(const JournalRun& run);
  // Taken back whole: every row it wrote holds its old value again.
  void markUndone(qint64 run, qint64 undoRun);
  // Taken back in part: `restored` of its rows hold their old values again; the rest can
  // be undone later.
  void markPartlyUndone(qint64 run, qint64 restored);
  void deleteRun(qint64 run);
  void prune(const QDateTime& now);

  // Newest first; the parts of a recipe's run are found through it.
  std::vector<JournalRun> runs() const;
  // The runs that wrote the fields of the recipe's run `whole`, in the order they began.
  std::vector<JournalRun> parts(qint64 whole) const;
  std::optional<JournalRun> run(qint64 id) const;
  // Whether a run was ever given this number, kept or not.
  bool numbered(qint64 id) const;
  // Visits the run's intact entries in order; returns how many were damaged and left out.
  qint64 forEachEntry(qint64 run, const std::function<void(const JournalEntry&)>& visit) const;
  // The same, until `visit` returns false.
  qint64 visitEntriesWhile(qint64 run, const std::function<bool(const JournalEntry&)>& visit) const;
  // The file and its write-ahead log.
  qint64 sizeOnDisk() const;
  const QString& path() const { return path_; }
  // Spool files found damaged when they were taken in, kept aside: what could be read of
  // them is in the journal, the rest is lost. Empty when none were.
  struct DamagedSpool {
    qint64 run = 0;
    QString keptAs;
  };
  const std::vector<DamagedSpool>& damagedSpools() const { return damagedSpools_; }
  const JournalLimits& limits() const { return limits_; }
  // Called before each entry or settlement is handed to the system; what it throws stands
  // for a failure of the disk. For tests of what a failing journal does.
  void setWriteHook(std::function<void()> hook) { writeHook_ = std::move(hook); }
  // The same, before a run's end is kept.
  void setEndHook(std::function<void()> hook) { endHook_ = std::move(hook); }

 private:
  void exec(const char* sql) const;
  void exec(const QByteArray& sql) const { exec(sql.constData()); }
  void addColumnIfMissing(const char* table, const char* column, const char* type);
  void createSchema();
  void describe(qint64 run, const RowChange& change);
  struct Spool {
    int file = -1;
    qint64 unsettled = 0;  // entries written since the last settlement
    std::string failure;   // why a write failed; empty while none did
    // Takes the settled entries in as the run goes; none: the spool is taken in at its end.
    std::unique_ptr<SpoolTaker> taker;
    QByteArray unsettledFrames;  // for the taker
    void write(const QByteArray& frame, const std::function<void()>& hook, bool durable = false);
  };
  Spool& spoolOf(qint64 run);
  QString spoolFolder() const;
  QString spoolPath(qint64 run) const;
  // Moves the entries of spool files whose runs' programs are gone into the database.
  void takeInAbandonedSpools();
  void countTakenIn(qint64 run);
  void takeIn(qint64 run);

  QString path_;
  JournalLimits limits_;
  sqlite3* db_ = nullptr;
  std::set<qint64> described_;  // runs whose identity columns are stored
  std::function<void()> writeHook_;
  std::function<void()> endHook_;
  std::map<qint64, Spool> spools_;  // the open spool file of each run under way
  std::vector<DamagedSpool> damagedSpools_;
};

// Keeps the entries of one run: told of each write before it happens, and then of what
// became of it. Once the journal failed, no write is let through; a settlement that
// cannot be kept leaves its entries in doubt, which undo decides by the values the rows
// hold, so it is remembered rather than thrown into the writer's bookkeeping.
class JournalRecorder : public WriteObserver {
 public:
  JournalRecorder(Journal& journal, qint64 run) : journal_(journal), run_(run) {}
  void aboutToWrite(const RowChange& change) override;
  void aboutToWriteAll(std::span<const RowChange> changes) override;
  void settled(WriteSettled how, const std::optional<QByteArray>* holds) override;
  // Why the journal failed; empty while it keeps up. From any thread: a chunk under way
  // is recorded on a thread of its own.
  QString failure() const;
  // Whether it failed, as cheaply as a writer may ask before every value.
  bool failed() const { return failed_.load(std::memory_order_acquire); }

 private:
  void keepingFailure(const std::function<void()>& record);
  void keep(const JournalError& failure);

  Journal& journal_;
  qint64 run_;
  mutable std::mutex mutex_;  // guards failure_
  QString failure_;
  std::atomic<bool> failed_ = false;  // set once failure_ is
};
