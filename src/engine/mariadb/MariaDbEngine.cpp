#include "MariaDbEngine.h"

#include "Connection.h"
#include "DbError.h"
#include "FieldCollection.h"
#include "MariaDbSession.h"
#include "RecordSet.h"
#include "SqlText.h"
#include "TableKeys.h"

QString MariaDbEngine::quotedName(const QString& name) const {
  return QuotedName(name);
}

// The server waits for the reader as long as a write may take, a report box held open
// included.
QString MariaDbEngine::readingBesideWrites() const {
  return WaitingForTheReader();
}

QStringList MariaDbEngine::tables(Connection& connection) const {
  QStringList tables;
  for (const auto listed = connection.Execute(tableListStatement());
       listed->isOpen() && !listed->Eof(); listed->MoveNext()) {
    tables << listed->Value(0).value_or(QString());
  }
  return tables;
}

QStringList MariaDbEngine::baseTables(Connection& connection) const {
  QStringList tables;
  for (const auto rows = connection.Execute(QStringLiteral("SHOW FULL TABLES"));
       rows->isOpen() && !rows->Eof(); rows->MoveNext()) {
    if (rows->Value(1) == QStringLiteral("BASE TABLE"))
      tables << rows->Value(0).value_or(QString());
  }
  return tables;
}

std::vector<MariaDbTextColumn> MariaDbTextColumns(Connection& connection, const QString& table) {
  std::vector<MariaDbTextColumn> columns;
  for (const auto rows = connection.Execute(
           QStringLiteral("SELECT COLUMN_NAME, CHARACTER_SET_NAME FROM information_schema.COLUMNS "
                          "WHERE "
                          "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = %1 AND DATA_TYPE IN "
                          "('char', 'varchar', 'tinytext', 'text', 'mediumtext', 'longtext') "
                          "ORDER BY ORDINAL_POSITION")
               .arg(TextLiteral(table)));
       !rows->Eof(); rows->MoveNext()) {
    columns.push_back({rows->Value(0).value_or(QString()), rows->Value(1).value_or(QString())});
  }
  return columns;
}

QStringList MariaDbPrimaryKey(Connection& connection, const QString& table) {
  QStringList columns;
  const std::vector<UniqueKey> keys = UniqueKeysOf(MariaDbSession::of(*connection.session()).idle(),
                                                   QuotedIdentifier(table.toUtf8()));
  if (!keys.empty() && keys.front().primary()) {
    for (const QByteArray& column : keys.front().columns) columns << QString::fromUtf8(column);
  }
  return columns;
}

TableFacts MariaDbEngine::tableFacts(Connection& connection, const QString& table) const {
  const auto facts = connection.Execute(
      QStringLiteral("SELECT ENGINE, TABLE_ROWS FROM information_schema.TABLES WHERE "
                     "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = %1")
          .arg(TextLiteral(table)));
  if (!facts->isOpen() || facts->Eof()) return {};
  const QString engine = facts->Value(0).value_or(QString());
  // Only InnoDB lets a read go on beside writes; other engines lock the table while it is
  // read.
  return {engine, facts->Value(1).value_or(QString()).toLongLong(),
          engine.compare(u"InnoDB", Qt::CaseInsensitive) == 0};
}

FieldCollection MariaDbEngine::fieldsOf(Connection& connection, const QString& table) const {
  return connection.Execute(selectAll(table) + QStringLiteral(" LIMIT 0"))->Fields();
}

qint64 MariaDbEngine::estimatedRows(Connection& connection, const QStringList& tables) const {
  if (tables.isEmpty()) return 0;
  QStringList names;
  for (const QString& table : tables) names << TextLiteral(table);
  const auto rows = connection.Execute(
      QStringLiteral("SELECT SUM(TABLE_ROWS) FROM information_schema.TABLES WHERE TABLE_SCHEMA = "
                     "DATABASE() AND TABLE_NAME IN (%1)")
          .arg(names.join(QStringLiteral(", "))));
  // An estimate: one that is not a number, or beyond any real table, counts as unknown.
  constexpr qint64 Largest = qint64(1) << 50;
  const qint64 estimate = rows->Eof() ? 0 : rows->Value(0).value_or(QString()).toLongLong();
  return estimate > 0 && estimate < Largest ? estimate : 0;
}

ColumnLimits MariaDbEngine::columnLimits(Connection& connection, const FieldInfo& field) const {
  const auto limits = connection.Execute(
      "SELECT CHARACTER_MAXIMUM_LENGTH, CHARACTER_OCTET_LENGTH FROM information_schema.COLUMNS "
      "WHERE TABLE_SCHEMA = " +
      TextLiteral(QString::fromUtf8(field.database)) +
      " AND TABLE_NAME = " + TextLiteral(QString::fromUtf8(field.table)) +
      " AND COLUMN_NAME = " + TextLiteral(QString::fromUtf8(field.column)));
  if (!limits->isOpen() || limits->Eof()) return {};
  return {limits->Value(0).value_or(QString()).toLongLong(),
          limits->Value(1).value_or(QString()).toLongLong()};
}

// Tried in a read-only transaction, with nothing read.
QString MariaDbEngine::rowConditionProblem(Connection& connection, const QString& table,
                                           const QString& condition) const {
  try {
    connection.Execute(QStringLiteral("START TRANSACTION READ ONLY"));
    struct RollBack {
      Connection& connection;
      ~RollBack() {
        try {
          connection.Execute(QStringLiteral("ROLLBACK"));
        } catch (const DbError&) {
          // A link that broke has ended the transaction already.
        }
      }
    } rollBack{connection};
    connection.Execute(QStringLiteral("SELECT 1 FROM ") + QuotedName(table) +
                       WhereClause(condition) + QStringLiteral(" LIMIT 0"));
  } catch (const DbError& failure) {
    return QString::fromUtf8(failure.what());
  }
  return {};
}
