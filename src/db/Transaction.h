#pragma once

#include "ClientHandles.h"
#include "DbError.h"

#include <utility>

// The transaction that a session is in, ended on every path: rolled back unless it was
// committed, also when an exception leaves the scope.
class Transaction {
 public:
  explicit Transaction(MYSQL* mysql) : mysql_(mysql) {}
  ~Transaction() {
    // A link that broke has rolled it back already; nothing to say then.
    if (mysql_) mysql_rollback(mysql_);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Throws DbError when the commit fails; the transaction has ended either way.
  void commit() {
    MYSQL* mysql = std::exchange(mysql_, nullptr);
    if (mysql_commit(mysql)) throw DbError::from(mysql);
  }
  // Whether a COMMIT among the session's own statements has ended it; then it is done.
  bool endedByServer() {
    unsigned int status = 0;
    if (!mysql_ || mariadb_get_infov(mysql_, MARIADB_CONNECTION_SERVER_STATUS, &status) ||
        (status & SERVER_STATUS_IN_TRANS)) {
      return false;
    }
    mysql_ = nullptr;
    return true;
  }
  // Throws DbError when the rollback fails.
  void rollback() {
    MYSQL* mysql = std::exchange(mysql_, nullptr);
    if (mysql_rollback(mysql)) throw DbError::from(mysql);
  }

 private:
  MYSQL* mysql_;
};
