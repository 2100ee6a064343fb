#include "MariaDbError.h"

#include <errmsg.h>
#include <mysqld_error.h>

DbError::Cause MariaDbCause(unsigned errorNumber) {
  switch (errorNumber) {
    case CR_SERVER_GONE_ERROR:
    case CR_SERVER_LOST:
    case CR_SERVER_LOST_EXTENDED:
    case ER_CONNECTION_KILLED:
    case ER_SERVER_SHUTDOWN:
      return DbError::Cause::ConnectionLost;
    case ER_QUERY_INTERRUPTED:
    case ER_STATEMENT_TIMEOUT:
      return DbError::Cause::Interrupted;
    case ER_LOCK_DEADLOCK:
      return DbError::Cause::Deadlock;
    case ER_BAD_DB_ERROR:
      return DbError::Cause::UnknownDatabase;
    case ER_ACCESS_DENIED_ERROR:
      return DbError::Cause::AccessDenied;
    case CR_CONNECTION_ERROR:
    case CR_CONN_HOST_ERROR:
      return DbError::Cause::Unreachable;
    case CR_UNKNOWN_HOST:
      return DbError::Cause::UnknownHost;
    case CR_SSL_CONNECTION_ERROR:
      return DbError::Cause::EncryptionSetup;
    default:
      return DbError::Cause::Other;
  }
}

DbError MariaDbError(MYSQL* mysql) {
  const unsigned number = mysql_errno(mysql);
  return DbError(QString::fromUtf8(mysql_error(mysql)), number, mysql_sqlstate(mysql),
                 MariaDbCause(number));
}

DbError MariaDbError(MYSQL_STMT* statement) {
  const unsigned number = mysql_stmt_errno(statement);
  return DbError(QString::fromUtf8(mysql_stmt_error(statement)), number,
                 mysql_stmt_sqlstate(statement), MariaDbCause(number));
}
