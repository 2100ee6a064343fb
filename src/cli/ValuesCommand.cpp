// klarifeld-clean --values: a column's distinct values with their counts, most frequent
// first, printed as they come from the server.
#include <cstdio>

#include "ColumnValues.h"
#include "CommandSupport.h"
#include "Commands.h"
#include "Connection.h"
#include "DbError.h"
#include "RowCondition.h"
#include "VisibleText.h"

namespace {

void appendValue(QByteArray& out, const ValueCount& counted, bool json) {
  if (json) {
    out += "{\"value\":";
    if (!counted.value) {
      out += "null";
    } else if (IsUtf8(*counted.value)) {
      AppendJsonString(out, *counted.value);
    } else {
      out += "{\"hex\":\"" + counted.value->toHex() + "\"}";
    }
    out += ",\"count\":" + QByteArray::number(counted.rows) + "}\n";
    return;
  }
  out += QByteArray::number(counted.rows) + '\t';
  if (!counted.value) {
    out += "NULL";
  } else if (IsUtf8(*counted.value)) {
    AppendWithVisibleMarks(out, *counted.value);
  } else {
    out += "0x" + counted.value->toHex();
  }
  out += '\n';
}

}  // namespace

int ListValues(const CleanOptions& options) {
  const std::optional<QString> connectionString = ConnectionStringFor(options);
  if (!connectionString) return UsageError;
  Connection connection;
  connection.CommandTimeout = 0;  // a big column takes its time; Ctrl+C ends it
  try {
    connection.Open(*connectionString);
    const std::optional<ChosenField> chosen = ChosenFieldOf(connection, options);
    if (!chosen) return UsageError;
    QByteArray out;
    if (const QString problem = RowConditionProblem(connection, options.table, options.where);
        !problem.isEmpty()) {
      Fail(problem);
      return UsageError;
    }
    ForEachDistinctValue(connection, options.table, chosen->field, options.where, options.limit,
                         [&](const ValueCount& counted) {
                           appendValue(out, counted, options.json);
                           if (out.size() > (1 << 16)) {
                             std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
                             out.clear();
                           }
                           return true;
                         });
    std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
    std::fflush(stdout);
  } catch (const DbError& failure) {
    return FailedToConnect(failure, options);
  }
  return AllWritten;
}
