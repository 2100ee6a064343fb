#pragma once

#include <QString>

struct sqlite3;

// A connection to the journal's database with what every connection to it takes: a wait
// for another's lock, commits that survive the program being killed, and its references
// kept. Throws JournalError.
sqlite3* OpenJournalDatabase(const QString& path);
// Runs `sql` on `db`; throws JournalError.
void ExecJournalSql(sqlite3* db, const char* sql);

// A transaction of the journal's database, rolled back unless committed. A failure may
// have ended it already (SQLite rolls back by itself on a full disk): then nothing is
// rolled back, and the failure that ended it is the one told.
class JournalTransaction {
 public:
  explicit JournalTransaction(sqlite3* db);
  ~JournalTransaction();
  JournalTransaction(const JournalTransaction&) = delete;
  JournalTransaction& operator=(const JournalTransaction&) = delete;
  void commit();

 private:
  sqlite3* db_;
  bool ended_ = false;
};
