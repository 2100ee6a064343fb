#include "DatabaseScan.h"

#include <optional>

#include "Connection.h"
#include "OperationCatalogue.h"
#include "RecordSet.h"
#include "TableBrowser.h"

namespace {

// A byte pattern for REGEXP, written as a hex literal: no quoting, whatever the SQL mode.
QString matches(const QString& b, const char* pattern) {
  return QStringLiteral("%1 REGEXP X'%2'").arg(b, QString::fromLatin1(QByteArray(pattern).toHex()));
}

struct TextColumn {
  QString name;
  QString characterSet;
};

// The value's UTF-8 bytes. A UTF-8 column's are its own: converting them would cost a third
// of the scan.
QString utf8BytesOf(const TextColumn& column) {
  const QString quoted = QuotedName(column.name);
  if (column.characterSet.startsWith(QStringLiteral("utf8"))) {
    return QStringLiteral("CAST(%1 AS BINARY)").arg(quoted);
  }
  return QStringLiteral("CAST(CONVERT(%1 USING utf8mb4) AS BINARY)").arg(quoted);
}

// Each kind as a condition on the column's value, through its UTF-8 bytes. Byte patterns
// need no collation: no case or accent folding, no spaces padded away.
QString conditionOn(const TextColumn& column, DirtKind kind) {
  const QString b = utf8BytesOf(column);
  // A kind made of characters beyond ASCII is looked for only in a value that has any: most
  // values are spared the search.
  const auto beyondAscii = [&](const QString& condition) {
    return QStringLiteral("(LENGTH(%1) <> CHAR_LENGTH(%2) AND %3)")
        .arg(b, QuotedName(column.name), condition);
  };
  switch (kind) {
    case DirtKind::LeadingSpaces:
      return QStringLiteral("ASCII(%1) = 32").arg(b);
    case DirtKind::TrailingSpaces:
      return QStringLiteral("RIGHT(%1, 1) = X'20'").arg(b);
    case DirtKind::DoubleSpaces:
      return QStringLiteral("LOCATE(X'2020', %1) > 0").arg(b);
    case DirtKind::Tabs:
      return QStringLiteral("LOCATE(X'09', %1) > 0").arg(b);
    case DirtKind::LineBreaks:
      return QStringLiteral("(LOCATE(X'0D', %1) > 0 OR LOCATE(X'0A', %1) > 0)").arg(b);
    case DirtKind::NoBreakSpaces:
      return beyondAscii(QStringLiteral("LOCATE(X'C2A0', %1) > 0").arg(b));
    case DirtKind::OtherSpaces:
      // U+1680, U+2000 to U+200A, U+202F, U+205F, U+3000.
      return beyondAscii(
          matches(b, R"(\xE1\x9A\x80|\xE2\x80[\x80-\x8A\xAF]|\xE2\x81\x9F|\xE3\x80\x80)"));
    case DirtKind::ZeroWidth:
      // U+200B to U+200D, U+2060, U+FEFF.
      return beyondAscii(matches(b, R"(\xE2\x80[\x8B-\x8D]|\xE2\x81\xA0|\xEF\xBB\xBF)"));
    case DirtKind::ControlCharacters:
      // U+0000 to U+001F but tab, LF and CR; U+007F to U+009F.
      return matches(b, R"([\x00-\x08\x0B\x0C\x0E-\x1F\x7F]|\xC2[\x80-\x9F])");
  }
  return {};
}

QString operationName(int position) {
  return OperationShortName(Catalogue()[size_t(position)]);
}

}  // namespace

QString DirtKindName(DirtKind kind) {
  static const std::array<QString, DirtKindCount> Names = {
      QStringLiteral("leading-spaces"),    QStringLiteral("trailing-spaces"),
      QStringLiteral("double-spaces"),     QStringLiteral("tabs"),
      QStringLiteral("line-breaks"),       QStringLiteral("no-break-spaces"),
      QStringLiteral("other-spaces"),      QStringLiteral("zero-width"),
      QStringLiteral("control-characters")};
  return Names[size_t(kind)];
}

CleaningSuggestion SuggestionFor(DirtKind kind) {
  switch (kind) {
    case DirtKind::LeadingSpaces:
      return {operationName(2), {}};
    case DirtKind::TrailingSpaces:
      return {operationName(3), {}};
    case DirtKind::DoubleSpaces:
      return {operationName(4), {}};
    case DirtKind::Tabs:
      return {operationName(8), {QStringLiteral(" ")}};  // tabs mostly part words
    case DirtKind::LineBreaks:
      return {operationName(5), {}};
    case DirtKind::NoBreakSpaces:
    case DirtKind::OtherSpaces:
      return {operationName(31), {}};
    case DirtKind::ZeroWidth:
    case DirtKind::ControlCharacters:
      return {operationName(32), {}};
  }
  return {};
}

namespace {

std::vector<TextColumn> textColumns(Connection& connection, const QString& table) {
  std::vector<TextColumn> columns;
  for (const auto rows = connection.Execute(
           QStringLiteral("SELECT COLUMN_NAME, CHARACTER_SET_NAME FROM information_schema.COLUMNS "
                          "WHERE "
                          "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = %1 AND DATA_TYPE IN "
                          "('char', 'varchar', 'tinytext', 'text', 'mediumtext', 'longtext') "
                          "ORDER BY ORDINAL_POSITION")
               .arg(TextLiteral(table)));
       !rows->Eof(); rows->MoveNext()) {
    columns.push_back({rows->Value(0).value_or(QString()), rows->Value(1).value_or(QString())});
  }
  return columns;
}

}  // namespace

QStringList BaseTablesOf(Connection& connection) {
  QStringList tables;
  for (const auto rows = connection.Execute(QStringLiteral("SHOW FULL TABLES"));
       rows->isOpen() && !rows->Eof(); rows->MoveNext()) {
    if (rows->Value(1) == QStringLiteral("BASE TABLE"))
      tables << rows->Value(0).value_or(QString());
  }
  return tables;
}

QStringList TextColumnsOf(Connection& connection, const QString& table) {
  QStringList names;
  for (const TextColumn& column : textColumns(connection, table)) names << column.name;
  return names;
}

std::vector<ColumnFindings> ScanTable(Connection& connection, const QString& table,
                                      qint64 sampleRows) {
  const std::vector<TextColumn> columns = textColumns(connection, table);
  if (columns.empty()) return {};
  QStringList sums{QStringLiteral("COUNT(*)")};
  for (const TextColumn& column : columns) {
    sums << QStringLiteral("SUM(%1 IS NULL)").arg(QuotedName(column.name));
    for (DirtKind kind : DirtKinds) {
      sums << QStringLiteral("COALESCE(SUM(%1), 0)").arg(conditionOn(column, kind));
    }
  }
  QString source = QuotedName(table);
  if (sampleRows > 0) {
    QStringList names;
    for (const TextColumn& column : columns) names << QuotedName(column.name);
    source = QStringLiteral("(SELECT %1 FROM %2 LIMIT %3) AS sample")
                 .arg(names.join(QStringLiteral(", ")), source)
                 .arg(sampleRows);
  }
  const auto totals =
      connection.Execute(QStringLiteral("SELECT ") + sums.join(QStringLiteral(", ")) +
                         QStringLiteral(" FROM ") + source);
  const auto number = [&](int field) {
    return totals->Value(field).value_or(QString()).toLongLong();
  };
  std::vector<ColumnFindings> findings;
  int field = 1;
  for (const TextColumn& column : columns) {
    ColumnFindings found{.table = table, .column = column.name, .rows = number(0)};
    found.nulls = number(field++);
    for (int kind = 0; kind < DirtKindCount; ++kind) found.counts[size_t(kind)] = number(field++);
    findings.push_back(found);
  }
  return findings;
}

std::vector<DirtExample> DirtExamples(Connection& connection, const QString& table,
                                      const QString& column, DirtKind kind, int count) {
  std::optional<TextColumn> text;
  for (const TextColumn& candidate : textColumns(connection, table)) {
    if (candidate.name == column) text = candidate;
  }
  if (!text) return {};
  QStringList keys;
  for (const auto rows = connection.Execute(
           QStringLiteral("SELECT COLUMN_NAME FROM information_schema.STATISTICS WHERE "
                          "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = %1 AND INDEX_NAME = "
                          "'PRIMARY' ORDER BY SEQ_IN_INDEX")
               .arg(TextLiteral(table)));
       !rows->Eof(); rows->MoveNext()) {
    keys << rows->Value(0).value_or(QString());
  }
  QStringList selected{QuotedName(column)};
  for (const QString& key : keys) selected << QuotedName(key);
  std::vector<DirtExample> examples;
  for (const auto rows = connection.Execute(QStringLiteral("SELECT %1 FROM %2 WHERE %3 LIMIT %4")
                                                .arg(selected.join(QStringLiteral(", ")),
                                                     QuotedName(table), conditionOn(*text, kind))
                                                .arg(count));
       !rows->Eof(); rows->MoveNext()) {
    QStringList key;
    for (int i = 0; i < keys.size(); ++i) {
      key << QStringLiteral("%1 = %2").arg(keys[i],
                                           rows->Value(i + 1).value_or(QStringLiteral("NULL")));
    }
    examples.push_back({key.join(QStringLiteral(", ")), rows->Value(0).value_or(QString())});
  }
  return examples;
}

qint64 EstimatedRows(Connection& connection, const QStringList& tables) {
  if (tables.isEmpty()) return 0;
  QStringList names;
  for (const QString& table : tables) names << TextLiteral(table);
  const auto rows = connection.Execute(
      QStringLiteral("SELECT SUM(TABLE_ROWS) FROM information_schema.TABLES WHERE TABLE_SCHEMA = "
                     "DATABASE() AND TABLE_NAME IN (%1)")
          .arg(names.join(QStringLiteral(", "))));
  return rows->Eof() ? 0 : rows->Value(0).value_or(QString()).toLongLong();
}
