#include "TablesScan.h"

#include "WorkerThread.h"

TablesScanned ScanTables(
    Connection& connection, const QStringList& tables, const ScanScope& scope,
    const std::function<bool(qsizetype index, const QString& table)>& starting,
    const std::function<void(const QString& table, std::vector<ColumnFindings>&& found)>& found) {
  TablesScanned ended;
  for (const QString& table : tables) {
    if (!starting(ended.scanned, table)) break;
    std::vector<ColumnFindings> findings;
    try {
      RunWhileServingEvents(
          [&] { findings = ScanTable(connection, table, scope.sampleRows, 0, scope.rows); });
    } catch (const DbError& failure) {
      ended.failure = failure;
      break;
    }
    found(table, std::move(findings));
    ++ended.scanned;
  }
  return ended;
}
