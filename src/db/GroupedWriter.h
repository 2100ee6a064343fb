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
#include "ChunkRows.h"
#include "DbError.h"
#include "FieldCollection.h"
#include "RowChange.h"
#include "RowSource.h"

class ChunkTable;
class RowUpdater;
class Session;

// Writes one field of many rows (or several fields of a keyed table) in chunks, a few round
// trips and one transaction each, instead of a round trip and a commit per row. It queues the
// rows into chunks, has each chunk written (ChunkWrite, through a ChunkTable), and settles
// what each attempt leaves: a row that no longer stands as read is written on its own, so
// that it is told on its own; a chunk that the server refuses (a locked row, a value too
// long) is split in halves, and halves again, so that only the small part around the row at
// fault is written row by row; a chunk lost to a deadlock is tried again. Of several fields,
// each row is written once, with the fields it changes, each where it still stands as read.
// While a chunk is written, the caller may read and queue the next one.
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
  int chunkRows() const;
  // Nothing queued, and no chunk under way.
  bool empty() const { return rows_.empty() && !inFlight_.aside(); }

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
  using Attempted = ChunkAttempted;
  struct Flush;

  GroupedWriter(Session& session, const FieldCollection& fields, RowUpdater& updater,
                std::vector<int> written, std::unique_ptr<ChunkTable> table);
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
  qsizetype chunkBytes() const;
  QueuedRow& writing(std::size_t i) { return inFlight_.rows()[i]; }
  Result writeOne(const QueuedRow& queued, int slot, WriteObserver* observer,
                  std::optional<DbError>& why, std::atomic<bool>* underway);

  Session& session_;
  const FieldCollection& fields_;
  RowUpdater& updater_;
  std::vector<int> written_;  // the fields written, by slot
  std::unique_ptr<ChunkTable> table_;
  std::vector<QueuedRow> rows_;                         // queued
  std::vector<std::optional<QByteArrayView>> packing_;  // the values of the row being queued
  // The chunk's rows so far, each as a statement lists them; through arrays, only the size
  // of their packed values counts.
  QByteArray listed_;
  qsizetype insertBytes_ = 0;
  // Of several fields: the keys of the rows of the chunk so far (in their packed values in
  // rows_), so that a row queued twice does not meet its own other values in one UPDATE.
  ChunkKeys chunkKeys_;
  // Being written, or under way while the caller queues the next; last, so that it ends
  // before anything it uses.
  ChunkInFlight inFlight_;
};
