#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <vector>

class Connection;

// The kinds of dirt that a scan counts in text columns, in the order reports list them.
enum class DirtKind {
  LeadingSpaces,
  TrailingSpaces,
  DoubleSpaces,
  Tabs,
  LineBreaks,
  NoBreakSpaces,
  OtherSpaces,
  ZeroWidth,
  ControlCharacters,
};
inline constexpr int DirtKindCount = 9;
inline constexpr std::array<DirtKind, DirtKindCount> DirtKinds = {
    DirtKind::LeadingSpaces, DirtKind::TrailingSpaces, DirtKind::DoubleSpaces,
    DirtKind::Tabs,          DirtKind::LineBreaks,     DirtKind::NoBreakSpaces,
    DirtKind::OtherSpaces,   DirtKind::ZeroWidth,      DirtKind::ControlCharacters};

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

// What a scan found in one text column: how many rows hold each kind.
struct ColumnFindings {
  QString table;
  QString column;
  qint64 rows = 0;
  qint64 nulls = 0;
  std::array<qint64, DirtKindCount> counts{};
};

// The tables of the connection's database that hold their own rows: not its views.
QStringList BaseTablesOf(Connection& connection);

// The text columns (CHAR, VARCHAR and the TEXT types) of a table of the connection's
// database, in their order.
QStringList TextColumnsOf(Connection& connection, const QString& table);

// Counts every kind in every text column of `table` in one pass on the server: only counts
// cross the link. A big table with an integer key is counted in two halves of it at once,
// the second on a companion of `connection`, which Cancel() ends too. Values are compared
// as UTF-8 bytes, whatever the column's character set.
// With `sampleRows`, only the first that many rows are read; with `rows`, only the rows where
// that condition holds. Several kinds' counts share one sum, as many as the table's size
// allows; `kindsPerSum` (1 to 3) sets it. Throws DbError.
std::vector<ColumnFindings> ScanTable(Connection& connection, const QString& table,
                                      qint64 sampleRows = 0, int kindsPerSum = 0,
                                      const QString& rows = {});

// A value that holds a kind of dirt, and the key of its row ("id = 5"; empty for a table
// without a primary key).
struct DirtExample {
  QString key;
  QString value;
};
// Up to `count` values of `column` that hold `kind`, of the rows where `rows` holds when it
// is given. Throws DbError.
std::vector<DirtExample> DirtExamples(Connection& connection, const QString& table,
                                      const QString& column, DirtKind kind, int count = 3,
                                      const QString& rows = {});

// The server's estimate of the rows that `tables` hold together: quick, and rough.
qint64 EstimatedRows(Connection& connection, const QStringList& tables);
