#include "PostgreSqlEngine.h"

#include "Connection.h"
#include "PgSession.h"
#include "RecordSet.h"

namespace {

// A text as a literal of PostgreSQL's SQL (standard_conforming_strings is on).
QString literal(const QString& text) {
  return u'\'' + QString(text).replace(u'\'', QStringLiteral("''")) + u'\'';
}

QStringList firstColumn(Connection& connection, const QString& statement) {
  QStringList values;
  for (const auto rows = connection.Execute(statement); rows->isOpen() && !rows->Eof();
       rows->MoveNext()) {
    values << rows->Value(0).value_or(QString());
  }
  return values;
}

QString whereClause(const QString& rows) {
  return rows.isEmpty() ? QString() : QStringLiteral(" WHERE (%1)").arg(rows);
}

// The value as text (char(n) without its padding, as MariaDB reads CHAR), in the "C"
// collation, which regular expressions and LIKE take whatever the column's collation.
QString plain(const QString& quotedColumn) {
  return QStringLiteral("(%1::text COLLATE \"C\")").arg(quotedColumn);
}

QString kindOn(const QString& x, DirtKind kind) {
  switch (kind) {
    case DirtKind::LeadingSpaces:
      return x + QStringLiteral(" LIKE ' %'");
    case DirtKind::TrailingSpaces:
      return x + QStringLiteral(" LIKE '% '");
    case DirtKind::DoubleSpaces:
      return QStringLiteral("position('  ' IN %1) > 0").arg(x);
    case DirtKind::Tabs:
      return QStringLiteral("position(E'\\t' IN %1) > 0").arg(x);
    case DirtKind::LineBreaks:
      return x + QStringLiteral(" ~ '[\\r\\n]'");
    case DirtKind::NoBreakSpaces:
      return QStringLiteral("position(U&'\\00A0' IN %1) > 0").arg(x);
    case DirtKind::OtherSpaces:  // U+1680, U+2000 to U+200A, U+202F, U+205F, U+3000
      return x + QStringLiteral(" ~ '[\\u1680\\u2000-\\u200A\\u202F\\u205F\\u3000]'");
    case DirtKind::ZeroWidth:  // U+200B to U+200D, U+2060, U+FEFF
      return x + QStringLiteral(" ~ '[\\u200B-\\u200D\\u2060\\uFEFF]'");
    case DirtKind::ControlCharacters:  // but tab, LF and CR; C1 controls too
      return x + QStringLiteral(" ~ '[\\x01-\\x08\\x0B\\x0C\\x0E-\\x1F\\x7F-\\x9F]'");
  }
  return {};
}

}  // namespace

QString PostgreSqlEngine::kindCondition(const QString& column, DirtKind kind) const {
  return kindOn(plain(quotedName(column)), kind);
}

// Its text columns (text, varchar, char, citext), in the table's order.
QStringList PostgreSqlEngine::textColumns(Connection& connection, const QString& table) const {
  return firstColumn(
      connection,
      QStringLiteral("SELECT a.attname FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid "
                     "WHERE a.attrelid = to_regclass(%1) AND a.attnum > 0 AND NOT a.attisdropped "
                     "AND t.typname IN ('text', 'varchar', 'bpchar', 'citext') ORDER BY a.attnum")
          .arg(literal(quotedTable(table))));
}

QStringList PostgreSqlEngine::primaryKey(Connection& connection, const QString& table) const {
  return firstColumn(
      connection,
      QStringLiteral("SELECT a.attname FROM pg_index i CROSS JOIN LATERAL "
                     "unnest(i.indkey::int2[]) WITH ORDINALITY AS k(attnum, n) JOIN pg_attribute a "
                     "ON a.attrelid = i.indrelid AND a.attnum = k.attnum WHERE i.indrelid = "
                     "to_regclass(%1) AND i.indisprimary ORDER BY k.n")
          .arg(literal(quotedTable(table))));
}

QString PostgreSqlEngine::quotedName(const QString& name) const {
  return QString::fromUtf8(PgQuotedName(name.toUtf8()));
}

QString PostgreSqlEngine::quotedTable(const QString& table) const {
  return QString::fromUtf8(PgQuotedTable(table.toUtf8()));
}

// The tables (not views) the user may read in the schemas of the search path, the first
// schema's by their names, the others' (and any name with a dot) as schema.table; a schema
// whose own name holds a dot could not be told apart, and is left out.
QString PostgreSqlEngine::tableListStatement() const {
  return QStringLiteral(
      "SELECT CASE WHEN n.nspname = current_schema() AND strpos(c.relname, '.') = 0 THEN "
      "c.relname ELSE n.nspname || '.' || c.relname END FROM pg_class c JOIN pg_namespace n "
      "ON n.oid = c.relnamespace WHERE c.relkind IN ('r', 'p') AND n.nspname = "
      "ANY (current_schemas(false)) AND strpos(n.nspname, '.') = 0 AND "
      "has_table_privilege(c.oid, 'SELECT') ORDER BY array_position(current_schemas(false), "
      "n.nspname), c.relname");
}

QStringList PostgreSqlEngine::tables(Connection& connection) const {
  return firstColumn(connection, tableListStatement());
}

QStringList PostgreSqlEngine::baseTables(Connection& connection) const {
  return tables(connection);
}

TableFacts PostgreSqlEngine::tableFacts(Connection& connection, const QString& table) const {
  const auto facts = connection.Execute(
      QStringLiteral("SELECT c.relkind, greatest(c.reltuples, 0)::bigint FROM pg_class c "
                     "WHERE c.oid = to_regclass(%1)")
          .arg(literal(quotedTable(table))));
  if (!facts->isOpen() || facts->Eof()) return {};
  // A table's rows are read from a snapshot: a write never waits for a reading.
  const bool table_ =
      facts->Value(0) == QStringLiteral("r") || facts->Value(0) == QStringLiteral("p");
  return {table_ ? QStringLiteral("heap") : QString(),
          facts->Value(1).value_or(QString()).toLongLong(), table_};
}

FieldCollection PostgreSqlEngine::fieldsOf(Connection& connection, const QString& table) const {
  return connection.Execute(selectAll(table) + QStringLiteral(" LIMIT 0"))->Fields();
}

qint64 PostgreSqlEngine::estimatedRows(Connection& connection, const QStringList& tables) const {
  qint64 rows = 0;
  for (const QString& table : tables) rows += tableFacts(connection, table).estimatedRows;
  return rows;
}

ColumnLimits PostgreSqlEngine::columnLimits(Connection& connection, const FieldInfo& field) const {
  const auto limits = connection.Execute(
      QStringLiteral("SELECT character_maximum_length, character_octet_length FROM "
                     "information_schema.columns WHERE table_schema = %1 AND table_name = %2 AND "
                     "column_name = %3")
          .arg(literal(QString::fromUtf8(field.database)), literal(QString::fromUtf8(field.table)),
               literal(QString::fromUtf8(field.column))));
  if (!limits->isOpen() || limits->Eof()) return {};
  return {limits->Value(0).value_or(QString()).toLongLong(),
          limits->Value(1).value_or(QString()).toLongLong()};
}

QString PostgreSqlEngine::rowConditionProblem(Connection& connection, const QString& table,
                                              const QString& condition) const {
  if (condition.trimmed().isEmpty()) return {};
  PgSession& session = PgSession::of(*connection.session());
  try {
    session.run("BEGIN READ ONLY");
    struct RollBack {
      PgSession& session;
      ~RollBack() {
        try {
          session.run("ROLLBACK");
        } catch (const DbError&) {
          // A link that broke has ended the transaction already.
        }
      }
    } rollBack{session};
    // One statement only: a prepared statement cannot hold two.
    connection.Execute(QStringLiteral("SELECT 1 FROM ") + quotedTable(table) +
                       QStringLiteral(" WHERE (") + condition + QStringLiteral(") LIMIT 0"));
  } catch (const DbError& failure) {
    return QString::fromUtf8(failure.what());
  }
  return {};
}

// Grouped by their bytes, as read: neither a collation that calls "a" and "A" equal nor
// char(n)'s padding joins two values. Each value comes as its bytes (bytea).
QString PostgreSqlEngine::valueCounts(const QString& table, const QString& field,
                                      const QString& rows, qint64 limit) const {
  const QString column = quotedName(field);
  QString statement =
      QStringLiteral(
          "SELECT CASE WHEN %1 IS NULL THEN NULL ELSE convert_to(concat(%1), 'UTF8') END AS b, "
          "count(*) FROM %2%3 GROUP BY b ORDER BY count(*) DESC, b NULLS FIRST")
          .arg(column, quotedTable(table),
               rows.isEmpty() ? QString() : QStringLiteral(" WHERE (%1)").arg(rows));
  if (limit > 0) statement += QStringLiteral(" LIMIT %1").arg(limit);
  return statement;
}

// Each order has a rank of its own, so that any page is found through an index.
void PostgreSqlEngine::keepValueCounts(Connection& connection, const QString& table,
                                       const QString& field, const QString& rows) const {
  connection.Execute(QStringLiteral("DROP TABLE IF EXISTS pg_temp.klarifeld_values"));
  connection.Execute(
      QStringLiteral("CREATE TEMPORARY TABLE klarifeld_values AS SELECT b AS v, n, "
                     "row_number() OVER (ORDER BY n DESC, b NULLS FIRST) AS by_count, "
                     "row_number() OVER (ORDER BY b NULLS FIRST) AS by_value, "
                     "row_number() OVER (ORDER BY length(convert_from(b, 'UTF8')) NULLS FIRST, "
                     "b NULLS FIRST) AS by_length FROM (%1) AS counted (b, n)")
          .arg(valueCounts(table, field, rows, 0)));
  for (const char* rank : {"by_count", "by_value", "by_length"}) {
    connection.Execute(
        QStringLiteral("CREATE INDEX ON klarifeld_values (%1)").arg(QLatin1String(rank)));
  }
}

// Matched by characters exactly, as the preview's filter matches: "o" is not "ö".
QString PostgreSqlEngine::keptValuesFilter(const QString& filter, bool regex) const {
  return regex ? QStringLiteral("convert_from(v, 'UTF8') COLLATE \"C\" ~ %1").arg(literal(filter))
               : QStringLiteral("position(convert_to(%1, 'UTF8') IN v) > 0").arg(literal(filter));
}

// Byte for byte, in the form the value was read in (char(n) padded), and readable.
QString PostgreSqlEngine::rowsHoldingValue(const QString& field,
                                           const std::optional<QString>& value) const {
  const QString column = quotedName(field);
  if (!value) return column + QStringLiteral(" IS NULL");
  return QStringLiteral("%1 IS NOT NULL AND concat(%1) COLLATE \"C\" = %2")
      .arg(column, literal(*value));
}

std::vector<ColumnFindings> PostgreSqlEngine::scanTable(Connection& connection,
                                                        const QString& table, qint64 sampleRows,
                                                        int, const QString& rows) const {
  const QStringList columns = textColumns(connection, table);
  if (columns.isEmpty()) return {};
  QStringList sums;
  for (const QString& column : columns) {
    sums << QStringLiteral("count(%1)").arg(quotedName(column));
    for (DirtKind kind : DirtKinds) {
      sums << QStringLiteral("count(*) FILTER (WHERE %1)").arg(kindCondition(column, kind));
    }
  }
  QString source = quotedTable(table) + whereClause(rows);
  if (sampleRows > 0) {
    source = QStringLiteral("(SELECT * FROM %1 LIMIT %2) AS sampled").arg(source).arg(sampleRows);
  }
  const auto counted = connection.Execute(
      QStringLiteral("SELECT count(*), %1 FROM %2").arg(sums.join(QStringLiteral(", ")), source));
  const qint64 read = counted->Value(0).value_or(QString()).toLongLong();
  std::vector<ColumnFindings> found;
  int at = 1;
  for (const QString& column : columns) {
    ColumnFindings findings{table, column, read, 0, {}};
    findings.nulls = read - counted->Value(at++).value_or(QString()).toLongLong();
    for (qint64& count : findings.counts)
      count = counted->Value(at++).value_or(QString()).toLongLong();
    found.push_back(findings);
  }
  return found;
}

std::vector<DirtExample> PostgreSqlEngine::dirtExamples(Connection& connection,
                                                        const QString& table, const QString& column,
                                                        DirtKind kind, int count,
                                                        const QString& rows) const {
  return examplesWhere(connection, table, column, primaryKey(connection, table),
                       kindCondition(column, kind), count, rows);
}
