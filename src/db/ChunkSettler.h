#pragma once

#include <vector>

#include "ChunkRows.h"
#include "GroupedWriter.h"

class RowUpdater;

// What to do after a failed statement of a chunk, whose transaction ends with its scope: a
// deadlock cost the chunk nothing but time; anything else is split. A lost link or an
// interrupted statement is thrown.
ChunkAttempt ChunkAttemptAfter(const DbError& failure);

// What an engine does for grouped writes: one attempt at a chunk of queued rows.
class ChunkAttempter {
 public:
  virtual ~ChunkAttempter() = default;
  // Writes the rows `part` of `rows` (`listed`: the chunk's rows as queued) in a transaction of its
  // own, each only where it still stands as read, and sets the result of each row it wrote.
  // `atFault` is set to the rows that no longer stand as read; with `inOrder`, a chunk with such
  // rows writes none (a Mismatch), else it keeps the rest and leaves them without a result. A
  // deadlock, a lost link and a cancelled statement are thrown, a row's result InDoubt where the
  // commit may have been made.
  virtual ChunkAttempt attemptChunk(std::vector<QueuedRow>& rows, const QByteArray& listed,
                                    const std::vector<std::size_t>& part, WriteObserver* observer,
                                    std::vector<std::size_t>& atFault, bool inOrder) = 0;
  // In a flush not in order: writes each field of the rows of `part` where that field still
  // stands as read, in a transaction of its own, and sets each row's fieldResults: Written,
  // or why not (AlreadyThere, ChangedSince, Gone; NotWritten for a field the row keeps).
  // Anything but Written leaves the rows to their chunk, or to be written on their own, as
  // does an engine that cannot.
  virtual ChunkAttempt attemptFieldByField(std::vector<QueuedRow>& rows,
                                           const std::vector<std::size_t>& part,
                                           WriteObserver* observer) {
    (void)rows, (void)part, (void)observer;
    return ChunkAttempt::Split;
  }
  // Whether all of `rows` may go as one chunk on a thread of its own while the caller reads
  // and queues the next.
  virtual bool mayGoUnderWay(const std::vector<QueuedRow>& rows) const = 0;
};

// Writes the rows of a flush and settles what each attempt leaves, whatever the server: a
// row that no longer stands as read is written on its own; a chunk the server refuses (a
// locked row, a value too long) is split in halves, and halves again; one lost to a
// deadlock is tried again. A chunk may stay under way while the caller queues the next.
class ChunkSettler {
 public:
  using Flushing = GroupedWriter::Flushing;
  using Report = GroupedWriter::Report;

  // `written`: the fields written, by slot.
  ChunkSettler(ChunkAttempter& attempter, RowUpdater& updater, const std::vector<int>& written)
      : attempter_(attempter), updater_(updater), written_(written) {}

  bool underWay() const { return inFlight_.aside(); }
  // GroupedWriter::flush, of the rows queued and the chunk's rows as listed.
  void flush(std::vector<QueuedRow>&& queued, QByteArray&& listed, WriteObserver* observer,
             const Report& report, std::atomic<bool>* rowOnItsOwn, bool inOrder, Flushing flushing);

 private:
  using Result = WriteOutcome;
  struct Flush;

  void writeInOrder(const std::vector<std::size_t>& part, Flush& flush);
  ChunkAttempted attemptChunk(const std::vector<std::size_t>& part, WriteObserver* observer,
                              bool inOrder);
  void settle(const std::vector<std::size_t>& part, const ChunkAttempted& tried, Flush& flush);
  std::vector<std::size_t> allWriting() const;
  void finishUnderWay(Flush& flush);
  bool writeFieldByField(const std::vector<std::size_t>& rows, Flush& flush);
  void tellWritten(const std::vector<std::size_t>& part, Flush& flush);
  void writeAlone(std::size_t i, Flush& flush);
  void tell(std::size_t i, Result result, Flush& flush);
  void tellSlot(std::size_t i, int slot, Result result, const DbError* why, Flush& flush);
  QueuedRow& writing(std::size_t i) { return inFlight_.rows()[i]; }
  Result writeOne(const QueuedRow& queued, int slot, WriteObserver* observer,
                  std::optional<DbError>& why, std::atomic<bool>* underway);

  ChunkAttempter& attempter_;
  RowUpdater& updater_;
  // The last chunk left most of its rows, changed since they were read: the next goes field
  // by field at once.
  bool byFieldFirst_ = false;
  const std::vector<int>& written_;
  // Being written, or under way while the caller queues the next; last, so that it ends
  // before anything it uses.
  ChunkInFlight inFlight_;
};
