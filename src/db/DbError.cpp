#include "DbError.h"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

DbError DbError::from(MYSQL* mysql) {
  return DbError(QString::fromUtf8(mysql_error(mysql)), mysql_errno(mysql), mysql_sqlstate(mysql));
}

DbError DbError::from(MYSQL_STMT* statement) {
  return DbError(QString::fromUtf8(mysql_stmt_error(statement)), mysql_stmt_errno(statement),
                 mysql_stmt_sqlstate(statement));
}

bool DbError::connectionLost() const {
  switch (errorNumber_) {
    case CR_SERVER_GONE_ERROR:
    case CR_SERVER_LOST:
    case CR_SERVER_LOST_EXTENDED:
    case ER_CONNECTION_KILLED:
    case ER_SERVER_SHUTDOWN:
      return true;
    default:
      return false;
  }
}

bool DbError::interrupted() const {
  return errorNumber_ == ER_QUERY_INTERRUPTED || errorNumber_ == ER_STATEMENT_TIMEOUT;
}
