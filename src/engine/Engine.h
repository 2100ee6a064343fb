#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "ConnectionString.h"
#include "ScanCounts.h"

#include "FieldCollection.h"

class Connection;
class RecordSet;

// What the server tells of a table of the current database without reading it: its
// storage engine (empty for a view), its estimated number of rows, and whether its rows can
// be read while others write them (else a write from elsewhere waits for the read to end).
struct TableFacts {
  QString engine;
  qint64 estimatedRows = 0;
  bool readsBesideWrites = false;
};

// How long a value a column holds: in characters and in bytes; 0 for no limit known.
struct ColumnLimits {
  qint64 characters = 0;
  qint64 bytes = 0;
};

// What the features ask of a database server, in the server's own SQL: its catalogue, a
// row condition's check, a scan's counts, a column's values. The record layer (Connection,
// RecordSet) carries the statements; an engine writes them. MariaDB and MySQL are the first
// (engine/mariadb). Each throws DbError when the server fails it.
class Engine {
 public:
  virtual ~Engine() = default;

  // A column's name (or a table's) as the server's SQL quotes it.
  virtual QString quotedName(const QString& name) const = 0;
  // A table's name, as the table list shows it, as the server's SQL quotes it.
  virtual QString quotedTable(const QString& table) const { return quotedName(table); }
  // Goes before a SELECT whose rows are read while another session writes them.
  virtual QString readingBesideWrites() const = 0;
  // The statement whose rows' first field names the tables and views of the connection's
  // database, as the table list reads it.
  virtual QString tableListStatement() const = 0;
  // "SELECT * FROM t" and "SELECT f FROM t", with the names quoted.
  QString selectAll(const QString& table) const;
  QString selectField(const QString& field, const QString& table) const;

  // Every table and view of the connection's database, as the server lists them.
  virtual QStringList tables(Connection& connection) const = 0;
  // Its tables that hold their own rows: not its views.
  virtual QStringList baseTables(Connection& connection) const = 0;
  virtual TableFacts tableFacts(Connection& connection, const QString& table) const = 0;
  // A table's fields, as a reading of all its columns shows them; no row is read.
  virtual FieldCollection fieldsOf(Connection& connection, const QString& table) const = 0;
  // The server's estimate of the rows that `tables` hold together: quick, and rough.
  virtual qint64 estimatedRows(Connection& connection, const QStringList& tables) const = 0;
  // The limits of the column that a field of a result comes from.
  virtual ColumnLimits columnLimits(Connection& connection, const FieldInfo& field) const = 0;

  // Why the user's condition cannot be used on `table`, in the server's words: it must
  // parse and be one expression over the table's columns; it is tried with nothing read
  // or written. Empty when it can be used.
  virtual QString rowConditionProblem(Connection& connection, const QString& table,
                                      const QString& condition) const = 0;

  // A statement that reads a column's distinct values, as their bytes, with their counts
  // (value, count), most frequent first, ties by their bytes; at most `limit` (0: all); of
  // the rows where `rows` holds (empty: every row). Values apart only in case, accents or
  // trailing spaces stay apart.
  virtual QString valueCounts(const QString& table, const QString& field, const QString& rows,
                              qint64 limit) const = 0;
  // The same values kept on the connection's session, in a temporary table `klarifeld_values`
  // (v, n) ranked in each order a list shows them: by_count, by_value, by_length, each from 1.
  virtual void keepValueCounts(Connection& connection, const QString& table, const QString& field,
                               const QString& rows) const = 0;
  // The condition on the kept values `v` that hold `filter` character for character, or
  // match it as the server's regular expression.
  virtual QString keptValuesFilter(const QString& filter, bool regex) const = 0;
  // The condition that holds for the rows whose `field` is exactly `value` (character for
  // character, case and trailing spaces counting), or NULL; readable, as the user sees it.
  virtual QString rowsHoldingValue(const QString& field,
                                   const std::optional<QString>& value) const = 0;

  // Counts every kind in every text column of `table`, on the server: only counts cross the
  // link. Values are compared as UTF-8 bytes, whatever the column's character set. With
  // `sampleRows`, only the first that many rows are read; with `rows`, only the rows where
  // that condition holds. Several kinds' counts may share one sum; `kindsPerSum` (1 to 3,
  // 0: as many as the table's size allows) sets it. Cancel() on the connection ends it.
  virtual std::vector<ColumnFindings> scanTable(Connection& connection, const QString& table,
                                                qint64 sampleRows, int kindsPerSum,
                                                const QString& rows) const = 0;
  // Up to `count` values of `column` that hold `kind`, of the rows where `rows` holds.
  virtual std::vector<DirtExample> dirtExamples(Connection& connection, const QString& table,
                                                const QString& column, DirtKind kind, int count,
                                                const QString& rows) const = 0;

 protected:
  // Up to `count` values of `column` of the rows where `condition` (and `rows`) holds, each
  // with its row's key of the columns `keys` as "id = 5".
  std::vector<DirtExample> examplesWhere(Connection& connection, const QString& table,
                                         const QString& column, const QStringList& keys,
                                         const QString& condition, int count,
                                         const QString& rows) const;
};

// The settings of a postgresql:// URI, as libpq reads it. Throws DbError for one it cannot read.
ConnectionAttributes PostgreSqlUriAttributes(const QString& uri);

// The engine of the server that `connection` speaks to.
const Engine& EngineOf(const Connection& connection);
