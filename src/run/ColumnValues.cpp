#include "ColumnValues.h"

#include "Connection.h"
#include "Engine.h"
#include "RecordSet.h"

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
  const QString statement = EngineOf(connection).valueCounts(table, field, rows, limit);
  RecordSet values;
  values.Open(statement, connection);
  for (; !values.Eof(); values.MoveNext()) {
    if (!visit(ValueCountOf(values))) break;
  }
}
