#pragma once

#include <mysql.h>

#include "DbError.h"

// The failure that the client library holds now, with what its number means; read from the
// handle before it is closed.
DbError MariaDbError(MYSQL* mysql);
DbError MariaDbError(MYSQL_STMT* statement);
// What a server's or the client library's error number means to the record layer.
DbError::Cause MariaDbCause(unsigned errorNumber);
