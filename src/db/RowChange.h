#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <optional>
#include <span>
#include <vector>

// One value about to be written to one row: enough to find the row again and to put
// the old value back.
struct RowChange {
  // The columns that tell the row: its key, or every column for a table without a
  // usable key; with their values as the row stands before the write.
  QByteArrayList identityColumns;
  std::vector<std::optional<QByteArray>> identity;
  bool keyed = false;
  QByteArray column;
  std::optional<QByteArray> before;
  std::optional<QByteArray> after;
};

using RowValues = std::vector<std::optional<QByteArray>>;

// Values in one byte string, nulls kept: a byte 0 for a null, else 1, the length (4
// bytes) and the bytes.
QByteArray PackedValues(const RowValues& values);
void AppendPackedValue(QByteArray& packed, std::optional<QByteArrayView> value);
// The bytes that AppendPackedValue adds for `value`.
inline qsizetype PackedSize(std::optional<QByteArrayView> value) {
  return value ? 1 + qsizetype(sizeof(quint32)) + value->size() : 1;
}
RowValues UnpackedValues(const QByteArray& packed);
// The value packed at `at`, read in place; `at` moves past it.
std::optional<QByteArrayView> NextPackedValue(QByteArrayView packed, qsizetype& at);

// What became of the write of one row.
enum class WriteOutcome {
  Written,
  NotFound,      // the row no longer stands as read: its value changed, or it is gone
  AlreadyThere,  // of a rewrite: the value to write stands already
  ChangedSince,  // of a rewrite: the row holds another value now (or, without a key, is gone)
  Gone,          // of a rewrite: no row has the key any more
  Refused,       // the server refused the value
  NotWritten,    // cancelled, the link broke before it was sent, or the caller stopped
  InDoubt,       // the link broke while it was on its way
};

// What became of the values told to a write observer since it was last told.
enum class WriteSettled {
  Written,     // they stand in the database
  NotWritten,  // the database holds none of them: nothing matched, refused, rolled back
  InDoubt,     // the link broke while they were on their way
};

// Told of each value before it is written, and then, once it is known, whether it was.
// Throwing from aboutToWrite keeps the value from being written.
class WriteObserver {
 public:
  virtual ~WriteObserver() = default;
  virtual void aboutToWrite(const RowChange& change) = 0;
  // The values of a chunk, which is committed as one, before any of them is written. Their
  // bytes may be the writer's own, kept only until the call returns: an observer copies
  // what it keeps (a QByteArray's copy of them shares them; QByteArray(data, size) does not).
  virtual void aboutToWriteAll(std::span<const RowChange> changes) {
    for (const RowChange& change : changes) aboutToWrite(change);
  }
  // `holds`, when given, is what the one row told now holds where that is not the value
  // told: a trigger changed it on its way.
  virtual void settled(WriteSettled how, const std::optional<QByteArray>* holds = nullptr) = 0;
};
