#include "ColumnValues.h"

#include "Connection.h"
#include "RecordSet.h"
#include "RowCondition.h"
#include "SqlText.h"

ValueCount ValueCountOf(const RecordSet& row) {
  ValueCount counted;
  if (const std::optional<QByteArrayView> value = row.RawValue(0)) {
    counted.value = value->toByteArray();
  }
  counted.rows = row.RawValue(1).value_or(QByteArrayView("0")).toLongLong();
  return counted;
}

void ForEachDistinctValue(Connection& connection, const QString& table, const QString& field,
                          const QString& rows, qint64 limit,
                          const std::function<bool(const ValueCount&)>& visit) {
  // All of a group's values are the same bytes: MIN picks that one.
  const QString bytes = QStringLiteral("CAST(%1 AS BINARY)").arg(QuotedName(field));
  QString statement = QStringLiteral(
                          "SELECT MIN(%1), COUNT(*) FROM %2%4 GROUP BY %3 "
                          "ORDER BY COUNT(*) DESC, %3")
                          .arg(QuotedName(field), QuotedName(table), bytes, WhereClause(rows));
  if (limit > 0) statement += QStringLiteral(" LIMIT %1").arg(limit);
  RecordSet values;
  values.Open(statement, connection);
  for (; !values.Eof(); values.MoveNext()) {
    if (!visit(ValueCountOf(values))) break;
  }
}
