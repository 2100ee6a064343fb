#include "EntryBatches.h"

#include <sqlite3.h>

#include <cstring>

#include "Journal.h"

namespace {

constexpr qsizetype LengthBytes = sizeof(quint32);

[[noreturn]] void fail(sqlite3* db) {
  throw JournalError(std::string("journal: ") + sqlite3_errmsg(db));
}

}  // namespace

EntryBatches::EntryBatches(sqlite3* db, qint64 run) : db_(db), run_(run) {
  const char* sql =
      "INSERT INTO entry_batches (run, entries, in_doubt, bytes, frames) VALUES (?, ?, ?, ?, ?)";
  if (sqlite3_prepare_v2(db_, sql, -1, &insert_, nullptr) != SQLITE_OK) fail(db_);
}

EntryBatches::~EntryBatches() {
  sqlite3_finalize(insert_);
}

void EntryBatches::add(QByteArrayView frames, bool inDoubt) {
  for (qsizetype at = 0; at + LengthBytes <= frames.size();) {
    quint32 length = 0;
    std::memcpy(&length, frames.data() + at, LengthBytes);
    const qsizetype size = std::min(LengthBytes + qsizetype(length), frames.size() - at);
    frames_.append(frames.data() + at, size);
    at += size;
    bytes_ += size - LengthBytes;
    ++entries_;
    if (inDoubt) ++inDoubt_;
    if (frames_.size() >= BatchBytes) store();
  }
}

void EntryBatches::store() {
  if (entries_ == 0) return;
  sqlite3_bind_int64(insert_, 1, run_);
  sqlite3_bind_int64(insert_, 2, entries_);
  sqlite3_bind_int64(insert_, 3, inDoubt_);
  sqlite3_bind_int64(insert_, 4, bytes_);
  sqlite3_bind_blob(insert_, 5, frames_.constData(), int(frames_.size()), SQLITE_STATIC);
  const int result = sqlite3_step(insert_);
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  if (result != SQLITE_DONE) fail(db_);
  frames_.resize(0);  // its room stays, for the next row
  entries_ = inDoubt_ = bytes_ = 0;
}
