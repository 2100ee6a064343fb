#include "ConnectionFailure.h"

#include "Connection.h"
#include "ConnectionString.h"
#include "RecordSet.h"

namespace {

QString hintFor(DbError::Cause cause) {
  switch (cause) {
    case DbError::Cause::AccessDenied:
      return QStringLiteral(
          "The user name or the password is wrong, or this user may not "
          "log in from this computer.");
    case DbError::Cause::Unreachable:
      return QStringLiteral(
          "The server could not be reached: check the server name and the "
          "port, and that the server runs and takes connections from this "
          "computer.");
    case DbError::Cause::UnknownHost:
      return QStringLiteral("No computer of that name was found: check the server name.");
    case DbError::Cause::UnknownDatabase:
      return QStringLiteral("The server has no database of that name: check the Database box.");
    case DbError::Cause::EncryptionSetup:
      return QStringLiteral(
          "The encrypted link could not be set up: check the Encryption "
          "choice and the CA file.");
    case DbError::Cause::ConnectionLost:
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
  const QString hint = hintFor(failure.cause());
  return hint.isEmpty() ? reason : reason + QStringLiteral("\r\r") + hint;
}

QStringList DatabasesOn(const QString& connectionString) {
  ConnectionAttributes login = ParseConnectionString(connectionString);
  const Encryption encryption = EncryptionNamed(login.sslMode).value_or(Encryption::Preferred);
  const bool postgreSql = IsPostgreSql(login);
  Connection connection;
  connection.ConnectionTimeout = 10;
  // PostgreSQL logs in to a database always: its own, which every server has.
  connection.Open(BuildConnectionString(
      login.server, login.user, login.password, postgreSql ? QStringLiteral("postgres") : QString(),
      login.port, encryption, login.sslCa, login.socket, login.engine));
  const QString statement =
      postgreSql ? QStringLiteral(
                       "SELECT datname FROM pg_database WHERE datallowconn AND NOT "
                       "datistemplate AND has_database_privilege(datname, 'CONNECT') "
                       "ORDER BY datname")
                 : QStringLiteral("SHOW DATABASES");
  QStringList names;
  for (const std::unique_ptr<RecordSet> rows = connection.Execute(statement); !rows->Eof();
       rows->MoveNext()) {
    const QString name = rows->Value(0).value_or(QString());
    static const QStringList ServerOwn = {"information_schema", "performance_schema", "mysql",
                                          "sys"};
    if (postgreSql || !ServerOwn.contains(name)) names << name;
  }
  return names;
}
