#include "JournalDatabase.h"

#include <sqlite3.h>

#include <QFile>

#include "Journal.h"

namespace {

constexpr int BusyMilliseconds = 5000;

}  // namespace

sqlite3* OpenJournalDatabase(const QString& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) {
    const std::string reason = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw JournalError("journal: " + reason);
  }
  sqlite3_busy_timeout(db, BusyMilliseconds);
  try {
    // Only a crash of the whole machine may take the last commits.
    ExecJournalSql(db, "PRAGMA synchronous = NORMAL");
    ExecJournalSql(db, "PRAGMA foreign_keys = ON");
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  return db;
}

void ExecJournalSql(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string reason = error ? error : "unknown failure";
    sqlite3_free(error);
    throw JournalError("journal: " + reason);
  }
}

JournalTransaction::JournalTransaction(sqlite3* db) : db_(db) {
  ExecJournalSql(db_, "BEGIN");
}

JournalTransaction::~JournalTransaction() {
  if (!ended_ && !sqlite3_get_autocommit(db_)) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void JournalTransaction::commit() {
  ExecJournalSql(db_, "COMMIT");
  ended_ = true;
}
