#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <optional>
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
RowValues UnpackedValues(const QByteArray& packed);

// Told of each value before it is written, and of nothing else. Throwing keeps the
// value from being written.
class WriteObserver {
 public:
  virtual ~WriteObserver() = default;
  virtual void aboutToWrite(const RowChange& change) = 0;
};
