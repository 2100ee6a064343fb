#include "PgError.h"

#include <QString>
#include <string_view>

namespace {

DbError::Cause causeOf(std::string_view state, bool connectionBad) {
  if (connectionBad || state.starts_with("08") || state == "57P01") {
    return DbError::Cause::ConnectionLost;  // a connection failure, or the server shut down
  }
  if (state == "57014") return DbError::Cause::Interrupted;  // query_canceled
  if (state == "40P01" || state == "40001") return DbError::Cause::Deadlock;
  if (state == "3D000") return DbError::Cause::UnknownDatabase;
  return DbError::Cause::Other;
}

}  // namespace

DbError PgError(PGconn* connection, const PGresult* result) {
  const char* message = result ? PQresultErrorMessage(result) : PQerrorMessage(connection);
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const std::string sqlState = state ? state : "08000";
  const bool bad = !connection || PQstatus(connection) == CONNECTION_BAD;
  return DbError(QString::fromUtf8(message).trimmed(), 0, sqlState, causeOf(sqlState, bad));
}
