#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

#include "RowChange.h"

// A row queued for a grouped write.
struct QueuedRow {
  qint64 tag = 0;
  QByteArray packed;                   // the key values, then each field's old and new values
  quint64 writtenSlots = 0;            // the slots of the fields it writes, a bit each
  qsizetype from = 0, to = 0;          // its row's bytes of the chunk's rows; empty: on its own
  std::optional<WriteOutcome> result;  // known once its chunk was written or tried
  bool inChunk() const { return to > from; }
  bool writes(int slot) const { return writtenSlots & (quint64{1} << slot); }
};

// How an attempt at writing a chunk ended.
enum class ChunkAttempt {
  Written,   // every row, committed
  Retry,     // lost to a deadlock
  Split,     // refused: a locked row, a refused value
  Mismatch,  // some rows no longer stand as read
};
