#include "SpoolTaker.h"

#include <sqlite3.h>

#include <optional>

#include "EntryBatches.h"
#include "Journal.h"
#include "JournalDatabase.h"

SpoolTaker::SpoolTaker(const QString& path, qint64 run)
    : db_(OpenJournalDatabase(path)), run_(run), thread_([this] { work(); }) {}

SpoolTaker::~SpoolTaker() {
  {
    const std::lock_guard lock(mutex_);
    failed_ = true;  // nothing more is stored
    finishing_ = true;
  }
  changed_.notify_all();
  thread_.join();
  sqlite3_close(db_);
}

void SpoolTaker::take(QByteArray frames, bool inDoubt) {
  {
    const std::lock_guard lock(mutex_);
    if (failed_) return;  // the spool is taken in at the end instead: nothing piles up
    waiting_.push_back({std::move(frames), inDoubt});
  }
  changed_.notify_all();
}

bool SpoolTaker::finish() {
  std::unique_lock lock(mutex_);
  finishing_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return done_; });
  return !failed_;
}

// Full batches are stored as their entries come, committed whenever none wait; the last,
// part full, when the run ends. After a failure nothing more is stored: the run's end takes
// the spool in instead.
void SpoolTaker::work() {
  bool inTransaction = false;
  try {
    EntryBatches batches(db_, run_);
    for (;;) {
      std::optional<Settled> next;
      bool drained = false;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !waiting_.empty() || finishing_; });
        if (failed_) break;
        if (!waiting_.empty()) {
          next = std::move(waiting_.front());
          waiting_.pop_front();
          drained = waiting_.empty();
        }
      }
      if (!inTransaction) ExecJournalSql(db_, "BEGIN");
      inTransaction = true;
      if (!next) {  // finishing, and everything taken
        batches.store();
        ExecJournalSql(db_, "COMMIT");
        inTransaction = false;
        break;
      }
      batches.add(next->frames, next->inDoubt);
      if (drained) {
        ExecJournalSql(db_, "COMMIT");
        inTransaction = false;
      }
    }
  } catch (const JournalError&) {
    const std::lock_guard lock(mutex_);
    failed_ = true;
    waiting_.clear();
  }
  if (inTransaction) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  {
    const std::lock_guard lock(mutex_);
    done_ = true;
  }
  changed_.notify_all();
}
