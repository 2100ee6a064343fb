#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

class Connection;
class RecordSet;

// One distinct value of a column and how many rows hold it; no value for NULL. Text as
// UTF-8, a binary column's bytes as they are.
struct ValueCount {
  std::optional<QByteArray> value;
  qint64 rows = 0;
};

// The value and its count in the current row of a reading of (value, count).
ValueCount ValueCountOf(const RecordSet& row);

// The distinct values of `field`, counted on the server by their bytes (so that values
// apart only in case, accents or trailing spaces stay apart), most frequent first, ties by
// their bytes; at most `limit` of them when it is above 0; of the rows where `rows` holds,
// or every row when it is empty (checked before: RowConditionProblem). Streamed: `visit`
// sees each as it arrives and returns false to stop.
void ForEachDistinctValue(Connection& connection, const QString& table, const QString& field,
                          const QString& rows, qint64 limit,
                          const std::function<bool(const ValueCount&)>& visit);
