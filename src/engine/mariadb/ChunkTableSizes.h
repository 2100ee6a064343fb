#pragma once

#include <QByteArray>
#include <charconv>

// What the chunk tables of keyed and keyless tables share: how big a table in memory may be,
// and numbers written into statements.

// A chunk table row up to this size is kept in memory (MEMORY stores rows at full width).
inline constexpr qsizetype InMemoryRowBytes = 4096;
// A chunk table in memory may grow to this size.
inline const QByteArray HeapBytes = "GREATEST(@@max_heap_table_size, 64 * 1024 * 1024)";

inline void AppendNumber(QByteArray& sql, qint64 number) {
  char digits[24];
  sql.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr - digits);
}
