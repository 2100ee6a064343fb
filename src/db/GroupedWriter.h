#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "ChunkKeys.h"
#include "DbError.h"
#include "FieldCollection.h"
#include "RowChange.h"
#include "RowSource.h"

class ChunkInsert;
class RowUpdater;
class Session;
class Transaction;

// Writes one field of many rows (or several fields of a keyed table) in chunks, a few round trips
// and one transaction each, instead of a round trip and a commit per row. A chunk's rows go into a
// temporary table on the session (or, for a session that may not make one, travel inside the UPDATE
// as a derived table), and one UPDATE … JOIN writes, without waiting for a lock, each row whose key
// matches and whose field still holds, byte for byte, the value that was read: the condition of the
// single-row write. The rows it wrote are journaled and committed; a row that no longer stands as
// read is written on its own, so that it is told on its own. A chunk that the server refuses (a
// locked row, a value too long) is rolled back and split in halves, and halves again, so that only
// the small part around the row at fault is written row by row. A chunk lost to a deadlock is tried
// again. A table without a key has its rows found by all their values, through a hash
// (KeylessChunks.cpp). Of several fields, each row is written once, with the fields it
// changes, each where it still stands as read. A chunk's journal entries are made and kept
// while the server writes it: they must be kept before its commit, not before its write. And
// while a chunk is written, the caller may read and queue the next one.
class GroupedWriter {
 public:
  // Written, NotFound, Refused (`why` says how), NotWritten or InDoubt.
  using Result = WriteOutcome;
  // Told of each value as soon as its result is known: `slot` says which of the fields
  // written it is for (0 for a writer of one field), `row` is the row as queued: its key
  // values, then each field's old value and new value (nulls for a field the row keeps),
  // packed as PackedValues packs them. Returning false leaves the values not yet written
  // unwritten.
  using Report = std::function<bool(qint64 tag, int slot, Result result, const DbError* why,
                                    const QByteArray& row)>;
  // New values of a row, by slot; a field not named keeps its value.
  using NewValues = std::vector<std::pair<int, std::optional<QByteArray>>>;
  // The most fields that one writer writes.
  static constexpr std::size_t MaxFields = 64;

  // Nothing when the table's rows cannot be written in groups: a server other than
  // MariaDB, or a key or field that only the single-row write compares rightly (FLOAT,
  // BIT); or when the session may not make temporary tables and a derived table cannot
  // carry the key's type (or the table has no key), and then `whyNot` says why, for the
  // user. Several fields (`written`, whose slots are their places in it) go together only
  // in a table with a key that none of them is part of.
  static std::unique_ptr<GroupedWriter> For(Session& session, const FieldCollection& fields,
                                            RowUpdater& updater, std::vector<int> written,
                                            QString* whyNot = nullptr);
  static std::unique_ptr<GroupedWriter> For(Session& session, const FieldCollection& fields,
                                            RowUpdater& updater, int field,
                                            QString* whyNot = nullptr) {
    return For(session, fields, updater, std::vector<int>{field}, whyNot);
  }
  ~GroupedWriter();

  // Queues `afters` for the row that `row` (indexed by field) holds as read: its key and
  // its fields' old values. A row queued again before a flush is written on its own.
  void add(qint64 tag, const std::vector<FieldBytes>& row, const NewValues& afters);
  void add(qint64 tag, const std::vector<FieldBytes>& row, const std::optional<QByteArray>& after) {
    add(tag, row, NewValues{{0, after}});
  }
  bool full() const;
  // The most rows that one chunk holds.
  int chunkRows() const { return maxChunkRows_; }
  // Nothing queued, and no chunk under way.
  bool empty() const { return rows_.empty() && !underWay_.valid(); }

  // Writes the queued rows and tells each one's result, in the order queued. `observer`,
  // when given, is told of each row before it can be written, and then whether it was.
  // `rowOnItsOwn`, when given, is set while a row is written on its own: only such a
  // write may be cancelled; a chunk is never cut short, so that the observer saw exactly
  // what it wrote. When the link broke or a write was cancelled, the rows not yet told are
  // told and that failure is thrown. A failure of the observer rolls back what it was
  // told of and is thrown at once; the rows queued are dropped then.
  // With `inOrder`, no row is written before the rows queued before it were told, so that
  // the caller can stop after any row; without it, a chunk whose rows partly changed since
  // they were read keeps the rows it wrote, which is much cheaper.
  //
  // With Flushing::MayLeaveUnderWay, a chunk may still be written, on a thread of its own,
  // when flush returns, so that the caller reads and queues the next rows meanwhile: its
  // rows are told by the next flush, which waits for it first and writes nothing before.
  // The observer is told of its rows on that thread meanwhile. Flushing::UnderWayOnly tells
  // the chunk under way and drops the rows queued since, unwritten and untold.
  enum class Flushing { Everything, MayLeaveUnderWay, UnderWayOnly };
  void flush(WriteObserver* observer, const Report& report,
             std::atomic<bool>* rowOnItsOwn = nullptr, bool inOrder = true,
             Flushing flushing = Flushing::Everything);

 private:
  struct Queued {
    qint64 tag;
    QByteArray packed;             // the key values, then each field's old and new values
    quint64 writtenSlots = 0;      // the slots of the fields it writes, a bit each
    qsizetype from = 0, to = 0;    // its row's bytes of the chunk (chunkBytes); empty: on its own
    std::optional<Result> result;  // known once its chunk was written or tried
    bool inChunk() const { return to > from; }
    bool writes(int slot) const { return writtenSlots & (quint64{1} << slot); }
  };
  enum class Attempt {
    Written,   // every row, committed
    Retry,     // lost to a deadlock
    Split,     // refused: a locked row, a refused value
    Mismatch,  // some rows no longer stand as read
  };
  // A chunk written as a whole, tried again after a deadlock.
  struct Attempted {
    Attempt attempt = Attempt::Retry;
    std::vector<std::size_t> atFault;  // of a Mismatch: the rows no longer as read
  };
  struct Flush;

  GroupedWriter(Session& session, const FieldCollection& fields, RowUpdater& updater,
                std::vector<int> written);
  bool makeChunkTable(QString* whyNot);
  bool makeKeylessChunkTable(MYSQL* mysql, QString* whyNot);
  quint32 rowHash(const std::vector<FieldBytes>& row) const;
  bool castKeys(MYSQL* mysql);
  static std::vector<qint64> serverNumbers(MYSQL* mysql, const char* sql,
                                           std::optional<DbError>* failure = nullptr);
  static std::vector<qint64> serverNumbers(MYSQL* mysql, const QByteArray& sql,
                                           std::optional<DbError>* failure = nullptr) {
    return serverNumbers(mysql, sql.constData(), failure);
  }
  using SlotValues = std::vector<const std::optional<QByteArray>*>;  // null: kept
  void appendChunkRow(qsizetype n, const std::vector<FieldBytes>& row, const SlotValues& afters);
  bool fitsChunk(const std::vector<FieldBytes>& row, const SlotValues& afters) const;
  QByteArray updateTail(const QByteArray& join) const;
  void writeInOrder(const std::vector<std::size_t>& part, Flush& flush);
  Attempted attemptChunk(const std::vector<std::size_t>& part, WriteObserver* observer,
                         bool inOrder);
  void settle(const std::vector<std::size_t>& part, const Attempted& tried, Flush& flush);
  bool mayGoUnderWay() const;
  std::vector<std::size_t> allWriting() const;
  void finishUnderWay(Flush& flush);
  void writeAlone(std::size_t i, Flush& flush);
  void tell(std::size_t i, Result result, Flush& flush);
  void tellSlot(std::size_t i, int slot, Result result, const DbError* why, Flush& flush);
  QByteArray chunkStatement(const std::vector<std::size_t>& part) const;
  Attempt writeChunk(const std::vector<std::size_t>& part, WriteObserver* observer,
                     std::vector<std::size_t>& atFault, bool inOrder);
  Attempt writeKeylessChunk(const std::vector<std::size_t>& part, WriteObserver* observer,
                            std::vector<std::size_t>& atFault);
  class TellingAhead;
  Attempt journalAndCommit(Transaction& transaction, const std::vector<std::size_t>& written,
                           WriteObserver* observer);
  Attempt journalAndCommit(Transaction& transaction, const std::vector<std::size_t>& written,
                           TellingAhead& told);
  Attempt settleWritten(TellingAhead& told, const std::vector<std::size_t>& rows);
  [[noreturn]] void settleInDoubt(TellingAhead& told, const std::vector<std::size_t>& rows,
                                  const DbError& failure);
  std::vector<RowChange> changesOf(const std::vector<std::size_t>& written) const;
  std::vector<std::size_t> rowsNotWritten(MYSQL* mysql, const std::vector<std::size_t>& part);
  Attempt failedChunk(MYSQL* mysql);
  static Attempt attemptAfter(const DbError& failure);
  void insertChunk(const std::vector<std::size_t>& part);
  qsizetype chunkBytes() const { return insert_ ? insertBytes_ : values_.size(); }
  Result writeOne(const Queued& queued, int slot, WriteObserver* observer,
                  std::optional<DbError>& why, std::atomic<bool>* underway);
  // A queued row's old and new value of the field of `slot`, with its key first.
  struct Unpacked {
    RowValues values;
    std::size_t keys;
    const std::optional<QByteArray>& before(int slot) const {
      return values[keys + 2 * std::size_t(slot)];
    }
    const std::optional<QByteArray>& after(int slot) const {
      return values[keys + 2 * std::size_t(slot) + 1];
    }
  };
  Unpacked unpacked(const Queued& queued) const;

  Session& session_;
  const FieldCollection& fields_;
  RowUpdater& updater_;
  std::vector<int> written_;  // the fields written, by slot
  QByteArray chunkTable_;
  QByteArray insertHead_;
  QByteArray updateHead_, updateTail_;  // the UPDATE around its chunk
  // Without a chunk table (no privilege for one): the chunk is a derived table, its key
  // values cast to the key's types.
  bool derived_ = false;
  // A table without a key: the chunk table finds its rows by a hash of all their values.
  bool keyless_ = false;
  QByteArray countStatement_;  // how often each row of the chunk stands in the table
  struct Cast {
    QByteArray before, after;
  };
  std::vector<Cast> keyCasts_;
  std::vector<qsizetype> valueCapacity_;  // bytes a value of each slot may have; none: no limit
  qsizetype maxChunkBytes_ = 0;
  int maxChunkRows_ = 0;
  std::vector<Queued> rows_;                            // queued
  std::vector<std::optional<QByteArrayView>> packing_;  // the values of the row being queued
  std::vector<Queued> writing_;                         // being written, or under way
  QByteArray values_;  // the chunk table's rows so far, each as the INSERT lists it
  // Where the server takes arrays of rows, the chunk table is filled through them instead,
  // from the rows' packed values, and emptied of the rows written with their UPDATE.
  std::unique_ptr<ChunkInsert> insert_;
  qsizetype insertBytes_ = 0;         // the packed values of the chunk so far
  bool chunkTableHoldsRows_ = false;  // left by a chunk that did not write them all
  // Of several fields: the keys of the rows of the chunk so far (in their packed values in
  // rows_), so that a row queued twice does not meet its own other values in one UPDATE.
  ChunkKeys chunkKeys_;
  // The attempt at the chunk of all of writing_, while the caller queues the next; last, so
  // that it ends before anything it uses.
  std::future<Attempted> underWay_;
};
