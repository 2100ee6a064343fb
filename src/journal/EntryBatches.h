#pragma once

#include <QByteArray>
#include <QByteArrayView>

struct sqlite3;
struct sqlite3_stmt;

// A run's entries go into the journal many to a row of entry_batches, as their spool
// frames (each its length, then its parts packed), about a megabyte a row: one row each
// would cost more than the writes they keep.
class EntryBatches {
 public:
  static constexpr qsizetype BatchBytes = qsizetype{1} << 20;

  // Throws JournalError when the statement cannot be made.
  EntryBatches(sqlite3* db, qint64 run);
  ~EntryBatches();
  EntryBatches(const EntryBatches&) = delete;
  EntryBatches& operator=(const EntryBatches&) = delete;

  // The frames of entries whose writes happened, or may have.
  void add(QByteArrayView frames, bool inDoubt);
  // Stores the entries added since the last row; throws JournalError.
  void store();

 private:
  sqlite3* db_;
  sqlite3_stmt* insert_ = nullptr;
  qint64 run_;
  QByteArray frames_;
  qint64 entries_ = 0, inDoubt_ = 0, bytes_ = 0;
};
