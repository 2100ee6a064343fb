#include "Engine.h"

#include "Connection.h"
#include "MariaDbEngine.h"
#include "MariaDbSession.h"
#include "PgSession.h"
#include "PostgreSqlEngine.h"

QString Engine::selectAll(const QString& table) const {
  return QStringLiteral("SELECT * FROM ") + quotedName(table);
}

QString Engine::selectField(const QString& field, const QString& table) const {
  return QStringLiteral("SELECT ") + quotedName(field) + QStringLiteral(" FROM ") +
         quotedName(table);
}

std::shared_ptr<Session> OpenSession(const ConnectionAttributes& attributes,
                                     const SessionOptions& options) {
  if (IsPostgreSql(attributes)) return PgSession::open(attributes, options);
  return MariaDbSession::open(attributes, options);
}

const Engine& EngineOf(const Connection& connection) {
  static const MariaDbEngine mariaDb;
  static const PostgreSqlEngine postgreSql;
  if (IsPostgreSql(connection.attributes())) return postgreSql;
  return mariaDb;
}
