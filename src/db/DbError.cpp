#include "DbError.h"

#include <mysql.h>

DbError DbError::from(MYSQL* mysql) {
  return DbError(QString::fromUtf8(mysql_error(mysql)), mysql_errno(mysql), mysql_sqlstate(mysql));
}

DbError DbError::from(MYSQL_STMT* statement) {
  return DbError(QString::fromUtf8(mysql_stmt_error(statement)), mysql_stmt_errno(statement),
                 mysql_stmt_sqlstate(statement));
}
