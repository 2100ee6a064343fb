#include "ConnectionFailure.h"

#include "Connection.h"
#include "ConnectionString.h"
#include "RecordSet.h"

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
