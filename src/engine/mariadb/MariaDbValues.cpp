// A column's values and their counts, on MariaDB and MySQL.
#include "Connection.h"
#include "MariaDbEngine.h"
#include "RecordSet.h"
#include "SqlText.h"

namespace {

// A value's bytes, by which values are grouped and ordered.
QString bytesOf(const QString& field) {
  return QStringLiteral("CAST(%1 AS BINARY)").arg(QuotedName(field));
}

}  // namespace

// All of a group's values are the same bytes: MIN picks that one.
QString MariaDbEngine::valueCounts(const QString& table, const QString& field, const QString& rows,
                                   qint64 limit) const {
  QString statement =
      QStringLiteral(
          "SELECT MIN(%1), COUNT(*) FROM %2%4 GROUP BY %3 "
          "ORDER BY COUNT(*) DESC, %3")
          .arg(QuotedName(field), QuotedName(table), bytesOf(field), WhereClause(rows));
  if (limit > 0) statement += QStringLiteral(" LIMIT %1").arg(limit);
  return statement;
}

// Each order has a rank of its own, so that any page is found through an index.
void MariaDbEngine::keepValueCounts(Connection& connection, const QString& table,
                                    const QString& field, const QString& rows) const {
  connection.Execute(QStringLiteral("DROP TEMPORARY TABLE IF EXISTS klarifeld_values"));
  connection.Execute(
      QStringLiteral(
          "CREATE TEMPORARY TABLE klarifeld_values (PRIMARY KEY (by_count), INDEX (by_value), "
          "INDEX (by_length)) AS SELECT MIN(%1) AS v, COUNT(*) AS n, "
          "ROW_NUMBER() OVER (ORDER BY COUNT(*) DESC, %2) AS by_count, "
          "ROW_NUMBER() OVER (ORDER BY MIN(%1), %2) AS by_value, "
          "ROW_NUMBER() OVER (ORDER BY CHAR_LENGTH(MIN(%1)), %2) AS by_length "
          "FROM %3%4 GROUP BY %2")
          .arg(QuotedName(field), bytesOf(field), QuotedName(table), WhereClause(rows)));
}

// Matched by characters exactly, as the preview's filter matches: "o" is not "ö".
QString MariaDbEngine::keptValuesFilter(const QString& filter, bool regex) const {
  const QString exact = QStringLiteral("CONVERT(v USING utf8mb4) COLLATE utf8mb4_bin");
  return regex ? QStringLiteral("%1 REGEXP %2").arg(exact, TextLiteral(filter))
               : QStringLiteral("LOCATE(%2, %1) > 0").arg(exact, TextLiteral(filter));
}

QString MariaDbEngine::rowsHoldingValue(const QString& field,
                                        const std::optional<QString>& value) const {
  if (!value) return QuotedName(field) + QStringLiteral(" IS NULL");
  QString quoted = *value;
  quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("''"));
  return QStringLiteral("CONVERT(%1 USING utf8mb4) COLLATE utf8mb4_bin = '%2'")
      .arg(QuotedName(field), quoted);
}
