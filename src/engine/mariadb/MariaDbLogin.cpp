#include "ConnectionFailure.h"

#include <errmsg.h>
#include <mysqld_error.h>

namespace {

QString hintFor(unsigned errorNumber) {
  switch (errorNumber) {
    case ER_ACCESS_DENIED_ERROR:
      return QStringLiteral(
          "The user name or the password is wrong, or this user may not "
          "log in from this computer.");
    case CR_CONNECTION_ERROR:
    case CR_CONN_HOST_ERROR:
      return QStringLiteral(
          "The server could not be reached: check the server name and the "
          "port, and that the server runs and takes connections from this "
          "computer.");
    case CR_UNKNOWN_HOST:
      return QStringLiteral("No computer of that name was found: check the server name.");
    case ER_BAD_DB_ERROR:
      return QStringLiteral("The server has no database of that name: check the Database box.");
    case CR_SSL_CONNECTION_ERROR:
      return QStringLiteral(
          "The encrypted link could not be set up: check the Encryption "
          "choice and the CA file.");
    case CR_SERVER_LOST:
    case CR_SERVER_GONE_ERROR:
      return QStringLiteral(
          "The server did not answer in time: it may be busy, or something "
          "between may hold the connection up.");
    default:
      return {};
  }
}

}  // namespace

QString ConnectionFailureText(const DbError& failure) {
  const QString reason = QString::fromUtf8(failure.what());
  const QString hint = hintFor(failure.errorNumber());
  return hint.isEmpty() ? reason : reason + QStringLiteral("\r\r") + hint;
}
