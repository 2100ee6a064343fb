#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <functional>
#include <future>
#include <optional>
#include <vector>

#include "RowChange.h"

// A row queued for a grouped write.
struct QueuedRow {
  qint64 tag = 0;
  QByteArray packed;                   // the key values, then each field's old and new values
  quint64 writtenSlots = 0;            // the slots of the fields it writes, a bit each
  bool inChunk = false;                // false: written on its own
  qsizetype from = 0, to = 0;          // its bytes of the chunk's rows as listed
  std::optional<WriteOutcome> result;  // known once its chunk was written or tried
  // Of a row written field by field after its chunk left it: each slot's result.
  std::vector<WriteOutcome> fieldResults;
  bool writes(int slot) const { return writtenSlots & (quint64{1} << slot); }
};

// How an attempt at writing a chunk ended.
enum class ChunkAttempt {
  Written,   // every row, committed
  Retry,     // lost to a deadlock
  Split,     // refused: a locked row, a refused value
  Mismatch,  // some rows no longer stand as read
};

// An attempt at a chunk as it ended: tried again after a deadlock as often as it may be.
struct ChunkAttempted {
  ChunkAttempt attempt = ChunkAttempt::Retry;
  std::vector<std::size_t> atFault;  // of a Mismatch: the rows no longer as read
};

// The rows taken from the queue to be written (with the chunk's rows as the engine lists
// them), and the attempt at them that may go on, on a thread of its own, while the caller
// reads and queues the next: the one owner of both. It waits for that attempt before it
// lets the rows go, also when it ends with them untold.
class ChunkInFlight {
 public:
  ChunkInFlight() = default;
  ChunkInFlight(const ChunkInFlight&) = delete;
  ChunkInFlight& operator=(const ChunkInFlight&) = delete;
  ~ChunkInFlight() {
    if (aside_.valid()) aside_.wait();
  }

  void take(std::vector<QueuedRow>&& rows, QByteArray&& listed) {
    rows_ = std::move(rows);
    listed_ = std::move(listed);
  }
  std::vector<QueuedRow>& rows() { return rows_; }
  const std::vector<QueuedRow>& rows() const { return rows_; }
  const QByteArray& listed() const { return listed_; }
  // Attempts the rows on a thread of their own; finish() waits for it.
  void attemptAside(std::function<ChunkAttempted()> attempt) {
    aside_ = std::async(std::launch::async, std::move(attempt));
  }
  bool aside() const { return aside_.valid(); }
  // The attempt made aside, once it ended; throws what it threw.
  ChunkAttempted finish() { return std::future<ChunkAttempted>(std::move(aside_)).get(); }
  // The rows were told.
  void letGo() {
    rows_.clear();
    listed_.clear();
  }

 private:
  std::vector<QueuedRow> rows_;
  QByteArray listed_;
  std::future<ChunkAttempted> aside_;
};
