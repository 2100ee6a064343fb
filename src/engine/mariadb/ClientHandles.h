#pragma once

// One owner per handle of the client library: move-only, and a moved-from owner
// holds nothing.

#include <mysql.h>

#include <memory>

struct MysqlCloser {
  void operator()(MYSQL* mysql) const { mysql_close(mysql); }
};
struct ResultFreer {
  void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};
struct StatementCloser {
  void operator()(MYSQL_STMT* statement) const { mysql_stmt_close(statement); }
};

using MysqlHandle = std::unique_ptr<MYSQL, MysqlCloser>;

// Sets an option of the client library, throwing DbError when the library refuses it:
// a connection never goes on without a setting that protects it.
void SetClientOption(MYSQL* mysql, enum mysql_option option, const void* value);
using ResultHandle = std::unique_ptr<MYSQL_RES, ResultFreer>;
using StatementHandle = std::unique_ptr<MYSQL_STMT, StatementCloser>;
