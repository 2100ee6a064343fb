#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "ScanCounts.h"

class Connection;

// "leading-spaces", "no-break-spaces": the names that reports and JSON use.
QString DirtKindName(DirtKind kind);
// "Trailing spaces": as the windows name it.
QString DirtKindCaption(DirtKind kind);

// The operation, with its answers, that cleans a kind of dirt.
struct CleaningSuggestion {
  QString operation;  // its short name
  QStringList answers;
};
CleaningSuggestion SuggestionFor(DirtKind kind);

// Counts every kind in every text column of `table` on the server that `connection` speaks
// to (Engine::scanTable). Throws DbError.
std::vector<ColumnFindings> ScanTable(Connection& connection, const QString& table,
                                      qint64 sampleRows = 0, int kindsPerSum = 0,
                                      const QString& rows = {});

// Up to `count` values of `column` that hold `kind` (Engine::dirtExamples). Throws DbError.
std::vector<DirtExample> DirtExamples(Connection& connection, const QString& table,
                                      const QString& column, DirtKind kind, int count = 3,
                                      const QString& rows = {});
