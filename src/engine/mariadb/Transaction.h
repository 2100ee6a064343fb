#pragma once

#include <QByteArray>
#include <utility>

#include "ClientHandles.h"
#include "MariaDbError.h"

// The transaction that a session is in, ended on every path: rolled back unless it was
// committed, also when an exception leaves the scope.
class Transaction {
 public:
  // Begins one, in a round trip of its own. Throws DbError.
  static Transaction Begin(MYSQL* mysql) {
    if (mysql_query(mysql, "START TRANSACTION")) throw MariaDbError(mysql);
    return Transaction(mysql);
  }
  // One that the caller's next round trip begins with Opening: a chunk's statements travel
  // together.
  static Transaction OpenedBy(MYSQL* mysql) { return Transaction(mysql); }
  static constexpr const char* Opening = "START TRANSACTION; ";

  ~Transaction() {
    // A link that broke has rolled it back already; nothing to say then.
    if (mysql_) mysql_rollback(mysql_);
  }
  Transaction(Transaction&& other) noexcept : mysql_(std::exchange(other.mysql_, nullptr)) {}
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  Transaction& operator=(Transaction&&) = delete;

  // Throws DbError when the commit fails; the transaction has ended either way.
  void commit() {
    MYSQL* mysql = std::exchange(mysql_, nullptr);
    if (mysql_commit(mysql)) throw MariaDbError(mysql);
  }
  // The statement by which the server commits it, in the round trip that writes, when
  // `condition` holds: a round trip fewer than commit(). committed() then says whether it
  // did.
  QByteArray commitWhen(const QByteArray& condition) {
    commitAsked_ = true;
    return "IF " + condition + " THEN COMMIT; END IF";
  }
  // Whether the statement of commitWhen() committed it; then it is done.
  bool committed() {
    unsigned int status = 0;
    if (!commitAsked_ || !mysql_ ||
        mariadb_get_infov(mysql_, MARIADB_CONNECTION_SERVER_STATUS, &status) ||
        (status & SERVER_STATUS_IN_TRANS)) {
      return false;
    }
    mysql_ = nullptr;
    return true;
  }
  // Throws DbError when the rollback fails.
  void rollback() {
    MYSQL* mysql = std::exchange(mysql_, nullptr);
    if (mysql_rollback(mysql)) throw MariaDbError(mysql);
  }

 private:
  explicit Transaction(MYSQL* mysql) : mysql_(mysql) {}

  MYSQL* mysql_;
  bool commitAsked_ = false;
};
