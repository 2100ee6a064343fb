#pragma once

#include <libpq-fe.h>

#include "DbError.h"

// The failure of a result, or of the connection when there is no result, with its SQLSTATE
// and what it means to the record layer.
DbError PgError(PGconn* connection, const PGresult* result = nullptr);
