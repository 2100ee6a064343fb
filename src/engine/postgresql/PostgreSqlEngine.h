#pragma once

#include "Engine.h"

// PostgreSQL, through the record layer over libpq. Tables are those of the current schema
// (the first of the search path).
class PostgreSqlEngine final : public Engine {
 public:
  QString quotedName(const QString& name) const override;
  QString quotedTable(const QString& table) const override;
  QString readingBesideWrites() const override { return {}; }  // reads never wait for writes
  QString tableListStatement() const override;
  QStringList tables(Connection& connection) const override;
  QStringList baseTables(Connection& connection) const override;
  TableFacts tableFacts(Connection& connection, const QString& table) const override;
  FieldCollection fieldsOf(Connection& connection, const QString& table) const override;
  qint64 estimatedRows(Connection& connection, const QStringList& tables) const override;
  ColumnLimits columnLimits(Connection& connection, const FieldInfo& field) const override;
  QString rowConditionProblem(Connection& connection, const QString& table,
                              const QString& condition) const override;
  QString valueCounts(const QString& table, const QString& field, const QString& rows,
                      qint64 limit) const override;
  void keepValueCounts(Connection& connection, const QString& table, const QString& field,
                       const QString& rows) const override;
  QString keptValuesFilter(const QString& filter, bool regex) const override;
  QString rowsHoldingValue(const QString& field,
                           const std::optional<QString>& value) const override;
  // Counted in one pass over the table, or its sample: only counts cross the link.
  std::vector<ColumnFindings> scanTable(Connection& connection, const QString& table,
                                        qint64 sampleRows, int kindsPerSum,
                                        const QString& rows) const override;
  std::vector<DirtExample> dirtExamples(Connection& connection, const QString& table,
                                        const QString& column, DirtKind kind, int count,
                                        const QString& rows) const override;

 private:
  // The condition that `column`'s value holds `kind`.
  QString kindCondition(const QString& column, DirtKind kind) const;
  QStringList textColumns(Connection& connection, const QString& table) const;
  QStringList primaryKey(Connection& connection, const QString& table) const;
};
