#pragma once

#include <vector>

#include "Engine.h"

// MariaDB and MySQL, through the record layer over Connector/C.
class MariaDbEngine final : public Engine {
 public:
  QString quotedName(const QString& name) const override;
  QString readingBesideWrites() const override;
  QString tableListStatement() const override { return QStringLiteral("SHOW TABLES;"); }
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
  // A big table with an integer key is counted in two halves of it at once, the second on a
  // companion of the connection.
  std::vector<ColumnFindings> scanTable(Connection& connection, const QString& table,
                                        qint64 sampleRows, int kindsPerSum,
                                        const QString& rows) const override;
  std::vector<DirtExample> dirtExamples(Connection& connection, const QString& table,
                                        const QString& column, DirtKind kind, int count,
                                        const QString& rows) const override;
};

// A text column (CHAR, VARCHAR and the TEXT types) of a table, with the character set its
// values are stored in; in the table's order.
struct MariaDbTextColumn {
  QString name;
  QString characterSet;
};
std::vector<MariaDbTextColumn> MariaDbTextColumns(Connection& connection, const QString& table);
// The columns of the table's primary key, in its order; none without one.
QStringList MariaDbPrimaryKey(Connection& connection, const QString& table);
