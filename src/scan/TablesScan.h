#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

#include "DatabaseScan.h"
#include "DbError.h"

class Connection;

// Which rows of each table a scan reads: the first `sampleRows` (0: all), where `rows`
// holds (empty: every row).
struct ScanScope {
  qint64 sampleRows = 0;
  QString rows;
};

// How a scan of tables ended: how many it scanned, and the failure that ended it before
// the last (a Stop or Ctrl+C ends the statement under way as one).
struct TablesScanned {
  qsizetype scanned = 0;
  std::optional<DbError> failure;
};

// Scans `tables` one after another, each on a worker while the caller's events run, and
// hands each table's findings to `found` as they come. `starting` is told of each table
// (by its place in `tables`) before it is read; returning false ends the scan there.
TablesScanned ScanTables(
    Connection& connection, const QStringList& tables, const ScanScope& scope,
    const std::function<bool(qsizetype index, const QString& table)>& starting,
    const std::function<void(const QString& table, std::vector<ColumnFindings>&& found)>& found);
