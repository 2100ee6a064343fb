#include "Engine.h"

#include "Connection.h"
#include "MariaDbEngine.h"
#include "MariaDbSession.h"
#include "PgSession.h"
#include "PostgreSqlEngine.h"
#include "RecordSet.h"

QString Engine::selectAll(const QString& table) const {
  return QStringLiteral("SELECT * FROM ") + quotedTable(table);
}

QString Engine::selectField(const QString& field, const QString& table) const {
  return QStringLiteral("SELECT ") + quotedName(field) + QStringLiteral(" FROM ") +
         quotedTable(table);
}

std::vector<DirtExample> Engine::examplesWhere(Connection& connection, const QString& table,
                                               const QString& column, const QStringList& keys,
                                               const QString& condition, int count,
                                               const QString& rows) const {
  QStringList selected{quotedName(column)};
  for (const QString& key : keys) selected << quotedName(key);
  const QString narrowed = rows.isEmpty() ? QString() : QStringLiteral(" AND (%1)").arg(rows);
  const auto found = connection.Execute(
      QStringLiteral("SELECT %1 FROM %2 WHERE %3%4 LIMIT %5")
          .arg(selected.join(QStringLiteral(", ")), quotedTable(table), condition, narrowed)
          .arg(count));
  std::vector<DirtExample> examples;
  for (; !found->Eof(); found->MoveNext()) {
    QStringList key;
    for (int i = 0; i < keys.size(); ++i) {
      key << QStringLiteral("%1 = %2").arg(keys[i],
                                           found->Value(i + 1).value_or(QStringLiteral("NULL")));
    }
    examples.push_back({key.join(QStringLiteral(", ")), found->Value(0).value_or(QString())});
  }
  return examples;
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
