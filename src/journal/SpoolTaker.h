#pragma once

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

struct sqlite3;

// Takes a run's settled entries into the journal's database while the run goes on, on a
// thread and a database connection of its own, so that the run's end waits only for the
// last of them. The spool file stays the record until the run ends: what this stored is
// replaced when the spool has to be taken in after all.
class SpoolTaker {
 public:
  // Throws JournalError when the database cannot be opened.
  SpoolTaker(const QString& path, qint64 run);
  // What was not stored by finish() is rolled back.
  ~SpoolTaker();
  SpoolTaker(const SpoolTaker&) = delete;
  SpoolTaker& operator=(const SpoolTaker&) = delete;

  // Entries settled as written, or in doubt: their frames, as the spool has them.
  void take(QByteArray frames, bool inDoubt);
  // Stores everything taken and commits it; false when something could not be stored.
  bool finish();

 private:
  struct Settled {
    QByteArray frames;
    bool inDoubt = false;
  };
  void work();

  sqlite3* db_ = nullptr;
  qint64 run_;
  std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  std::deque<Settled> waiting_;
  bool finishing_ = false;
  bool done_ = false;
  bool failed_ = false;
  std::thread thread_;
};
