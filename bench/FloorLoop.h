#pragma once

// The floor that the record layer is measured against: the same work written directly
// on the client library, with one prepared UPDATE statement.

#include <QString>
#include <functional>

struct FloorResult {
  qint64 rows = 0;
  qint64 written = 0;
};

// Reads every row of `table` (id, v) with mysql_store_result and, for each value that
// `transform` changes, runs "UPDATE table SET v = ? WHERE id = ?".
FloorResult RunFloorLoop(const QString& connectionString, const QString& table,
                         const std::function<QString(const QString&)>& transform);

// Reads every value of `table` (id, v) with mysql_store_result and transforms it, writing
// nothing: the floor of a preview. Returns how many values would change.
qint64 ReadAndTransform(const QString& connectionString, const QString& table,
                        const std::function<QString(const QString&)>& transform);

// Holds every row of `table` with mysql_store_result and reads each value as text.
qint64 ReadAllWithStoreResult(const QString& connectionString, const QString& table);

// Runs one statement on the server, as the fastest cleaning there is: the whole change
// done by the server itself, with no row crossing the link.
void RunServerStatement(const QString& connectionString, const QString& sql);
