#pragma once

#include <QByteArray>
#include <atomic>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "DbError.h"
#include "RowChange.h"
#include "RowSource.h"

// Writes one field of many rows (or several fields of a keyed table) in chunks, a few round
// trips and one transaction each, instead of a round trip and a commit per row. A row that
// no longer stands as read is written on its own, so that it is told on its own; only the
// small part of a chunk around a row the server refuses is written row by row. Of several
// fields, each row is written once, with the fields it changes, each where it still stands
// as read. An engine's session makes it (Session::groupedWriter).
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

  virtual ~GroupedWriter() = default;

  // Queues `afters` for the row that `row` (indexed by field) holds as read: its key and
  // its fields' old values. A row queued again before a flush is written on its own.
  virtual void add(qint64 tag, const std::vector<FieldBytes>& row, const NewValues& afters) = 0;
  void add(qint64 tag, const std::vector<FieldBytes>& row, const std::optional<QByteArray>& after) {
    add(tag, row, NewValues{{0, after}});
  }
  virtual bool full() const = 0;
  // The most rows that one chunk holds.
  virtual int chunkRows() const = 0;
  // Nothing queued, and no chunk under way.
  virtual bool empty() const = 0;

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
  virtual void flush(WriteObserver* observer, const Report& report,
                     std::atomic<bool>* rowOnItsOwn = nullptr, bool inOrder = true,
                     Flushing flushing = Flushing::Everything) = 0;
};
