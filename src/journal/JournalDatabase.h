#pragma once

#include <sqlite3.h>
#include <QByteArray>
#include <QString>
#include <optional>
#include <string>

#include "Journal.h"

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

// One statement, bound by position from 1 and read by column from 0.
class JournalQuery {
 public:
  JournalQuery(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) fail();
  }
  JournalQuery(sqlite3* db, const QByteArray& sql) : JournalQuery(db, sql.constData()) {}
  // Borrows a statement prepared once, and leaves it ready for the next use.
  JournalQuery(sqlite3* db, sqlite3_stmt* prepared)
      : db_(db), statement_(prepared), owned_(false) {}
  ~JournalQuery() {
    if (owned_) {
      sqlite3_finalize(statement_);
    } else {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
  }
  JournalQuery(const JournalQuery&) = delete;
  JournalQuery& operator=(const JournalQuery&) = delete;

  JournalQuery& bind(int at, qint64 value) {
    sqlite3_bind_int64(statement_, at, value);
    return *this;
  }
  JournalQuery& bind(int at, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(statement_, at, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    return *this;
  }
  JournalQuery& bind(int at, const std::optional<QByteArray>& value) {
    if (!value) {
      sqlite3_bind_null(statement_, at);
    } else {
      // A static empty text, not a null pointer: an empty value is not a null.
      sqlite3_bind_blob(statement_, at, value->isEmpty() ? "" : value->constData(),
                        int(value->size()), SQLITE_TRANSIENT);
    }
    return *this;
  }
  // True while there is a row to read.
  bool step() {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result != SQLITE_DONE) fail();
    return false;
  }
  void run() {
    while (step()) {
    }
    sqlite3_reset(statement_);
  }
  qint64 integer(int column) const { return sqlite3_column_int64(statement_, column); }
  QString text(int column) const {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement_, column)),
                             sqlite3_column_bytes(statement_, column));
  }
  std::optional<QByteArray> blob(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return QByteArray(static_cast<const char*>(sqlite3_column_blob(statement_, column)),
                      sqlite3_column_bytes(statement_, column));
  }

 private:
  [[noreturn]] void fail() const {
    throw JournalError(std::string("journal: ") + sqlite3_errmsg(db_));
  }
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
  bool owned_ = true;
};
