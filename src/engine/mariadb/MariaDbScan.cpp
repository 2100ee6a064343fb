#include "MariaDbEngine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <limits>
#include <optional>
#include <span>

#include "Connection.h"
#include "MariaDbSession.h"
#include "RecordSet.h"
#include "SqlText.h"
#include "TableKeys.h"

namespace {

// A byte pattern, written as a hex literal: no quoting, whatever the SQL mode. Its explicit
// binary collation makes the comparison a comparison of bytes, and the server then searches a
// UTF-8 column's own bytes, with no converted copy of them.
QString bytes(const char* pattern) {
  return QStringLiteral("X'%1' COLLATE 'binary'")
      .arg(QString::fromLatin1(QByteArray(pattern).toHex()));
}

QString matches(const QString& b, const char* pattern) {
  return QStringLiteral("%1 REGEXP %2").arg(b, bytes(pattern));
}

using TextColumn = MariaDbTextColumn;

bool storedAsUtf8(const TextColumn& column) {
  return column.characterSet.startsWith(QStringLiteral("utf8"));
}

// The value's UTF-8 bytes as a binary string, whose positions count bytes. A search among
// bytes is no search by collation, where a no-break space may weigh as a space. CONVERT …
// USING binary gives the bytes as CAST … AS BINARY does, in a tenth less of the scan's time.
QString utf8BytesOf(const TextColumn& column) {
  const QString quoted = QuotedName(column.name);
  if (storedAsUtf8(column)) return QStringLiteral("CONVERT(%1 USING binary)").arg(quoted);
  return QStringLiteral("CONVERT(CONVERT(%1 USING utf8mb4) USING binary)").arg(quoted);
}

// Where a byte, the count of bytes or a search for a byte pattern is all that matters, a UTF-8
// column is read as it is: each conversion is a copy of the value, a tenth of the scan.
QString utf8BytesSearched(const TextColumn& column) {
  return storedAsUtf8(column) ? QuotedName(column.name) : utf8BytesOf(column);
}

// Each kind as a condition on the value's UTF-8 bytes. Byte patterns need no collation: no
// case or accent folding, no spaces padded away. LOCATE's place found (0 for none) is a
// condition as it is: comparing it with 0 took a twentieth of the scan's time.
QString kindCondition(const TextColumn& column, DirtKind kind) {
  const QString b = utf8BytesSearched(column);
  switch (kind) {
    case DirtKind::LeadingSpaces:
      return QStringLiteral("ASCII(%1) = 32").arg(b);
    case DirtKind::TrailingSpaces:
      // A space found from the last byte on. LOCATE counts its start in the characters of
      // the string it searches: in a binary copy, characters are bytes.
      return QStringLiteral("LOCATE(%1, %2, LENGTH(%3))").arg(bytes(" "), utf8BytesOf(column), b);
    case DirtKind::DoubleSpaces:
      return QStringLiteral("LOCATE(%1, %2)").arg(bytes("  "), b);
    case DirtKind::Tabs:
      return QStringLiteral("LOCATE(%1, %2)").arg(bytes("\t"), b);
    case DirtKind::LineBreaks:
      return QStringLiteral("(LOCATE(%1, %3) OR LOCATE(%2, %3))").arg(bytes("\r"), bytes("\n"), b);
    case DirtKind::NoBreakSpaces:
      return QStringLiteral("LOCATE(%1, %2)").arg(bytes("\xC2\xA0"), b);
    case DirtKind::OtherSpaces:
      // U+1680, U+2000 to U+200A, U+202F, U+205F, U+3000.
      return matches(b, R"(\xE1\x9A\x80|\xE2\x80[\x80-\x8A\xAF]|\xE2\x81\x9F|\xE3\x80\x80)");
    case DirtKind::ZeroWidth:
      // U+200B to U+200D, U+2060, U+FEFF.
      return matches(b, R"(\xE2\x80[\x8B-\x8D]|\xE2\x81\xA0|\xEF\xBB\xBF)");
    case DirtKind::ControlCharacters:
      // U+0000 to U+001F but tab, LF and CR; U+007F to U+009F.
      return matches(b, R"([\x00-\x08\x0B\x0C\x0E-\x1F\x7F]|\xC2[\x80-\x9F])");
  }
  return {};
}

// The kinds fall in three families. Most values hold no character of the last two, and one
// test tells so: only a value that passes it is searched for the family's kinds.
struct Family {
  enum class Gate { None, BelowSpace, BeyondAscii } gate;
  std::array<DirtKind, 3> kinds;
};
constexpr std::array<Family, 3> Families = {{
    {Family::Gate::None,
     {DirtKind::LeadingSpaces, DirtKind::TrailingSpaces, DirtKind::DoubleSpaces}},
    {Family::Gate::BelowSpace, {DirtKind::Tabs, DirtKind::LineBreaks, DirtKind::ControlCharacters}},
    {Family::Gate::BeyondAscii,
     {DirtKind::NoBreakSpaces, DirtKind::OtherSpaces, DirtKind::ZeroWidth}},
}};

// Empty for the family that every value is searched for.
QString gateOf(const TextColumn& column, Family::Gate gate) {
  switch (gate) {
    case Family::Gate::None:
      return {};
    case Family::Gate::BelowSpace:  // C1 controls too, so that every control is behind it
      return matches(utf8BytesSearched(column), R"([\x00-\x1F\x7F]|\xC2[\x80-\x9F])");
    case Family::Gate::BeyondAscii:
      return QStringLiteral("LENGTH(%1) <> CHAR_LENGTH(%2)")
          .arg(utf8BytesSearched(column), QuotedName(column.name));
  }
  return {};
}

const Family& familyOf(DirtKind kind) {
  for (const Family& family : Families) {
    if (std::ranges::find(family.kinds, kind) != family.kinds.end()) return family;
  }
  return Families[0];
}

QString conditionOn(const TextColumn& column, DirtKind kind) {
  const QString gate = gateOf(column, familyOf(kind).gate);
  const QString condition = kindCondition(column, kind);
  return gate.isEmpty() ? condition : QStringLiteral("(%1 AND %2)").arg(gate, condition);
}

// Several kinds' counts share one SUM, each shifted `bits` further: exact while the rows
// stay below 2^bits. Fewer sums are most of a scan's speed.
struct Packing {
  int kindsPerSum;
  int bits;
  qint64 limit() const {
    return kindsPerSum == 1 ? std::numeric_limits<qint64>::max() : qint64(1) << bits;
  }
};
constexpr std::array<Packing, 3> Packings = {{{3, 21}, {2, 31}, {1, 0}}};

}  // namespace

namespace {

// One SUM over `kinds` of one family, the first in the lowest bits.
QString packedSum(const TextColumn& column, Family::Gate gate, std::span<const DirtKind> kinds,
                  const Packing& packing) {
  QStringList terms;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    terms << QStringLiteral("IF(%1, %2, 0)")
                 .arg(kindCondition(column, kinds[i]))
                 .arg(qint64(1) << (packing.bits * int(i)));
  }
  const QString packed = terms.join(QStringLiteral(" + "));
  const QString test = gateOf(column, gate);
  return QStringLiteral("SUM(%1)").arg(
      test.isEmpty() ? packed : QStringLiteral("IF(%1, %2, 0)").arg(test, packed));
}

// The kinds that each sum holds, in the order of the sums: one layout writes and reads them.
std::vector<std::span<const DirtKind>> layoutOf(const Packing& packing) {
  std::vector<std::span<const DirtKind>> layout;
  for (const Family& family : Families) {
    for (std::size_t first = 0; first < family.kinds.size(); first += packing.kindsPerSum) {
      layout.push_back(std::span(family.kinds)
                           .subspan(first, std::min<std::size_t>(packing.kindsPerSum,
                                                                 family.kinds.size() - first)));
    }
  }
  return layout;
}

// The rows, then for each column its values and its packed sums.
QString sumsOf(const std::vector<TextColumn>& columns, const Packing& packing) {
  QStringList sums{QStringLiteral("COUNT(*)")};
  for (const TextColumn& column : columns) {
    sums << QStringLiteral("COUNT(%1)").arg(QuotedName(column.name));
    for (std::span<const DirtKind> kinds : layoutOf(packing)) {
      sums << packedSum(column, familyOf(kinds.front()).gate, kinds, packing);
    }
  }
  return sums.join(QStringLiteral(", "));
}

// The sums unpacked; nothing when the table held too many rows for the packing.
std::optional<std::vector<ColumnFindings>> unpacked(const std::vector<qint64>& totals,
                                                    const QString& table,
                                                    const std::vector<TextColumn>& columns,
                                                    const Packing& packing) {
  const std::size_t expected = 1 + columns.size() * (1 + layoutOf(packing).size());
  if (totals.size() != expected) {
    throw DbError(QStringLiteral("The server answered the count of the table %1 with %2 values "
                                 "instead of %3, so it was not scanned.")
                      .arg(table)
                      .arg(totals.size())
                      .arg(expected));
  }
  std::size_t field = 0;
  const auto next = [&] { return totals[field++]; };
  const qint64 rows = next();
  if (rows >= packing.limit()) return std::nullopt;
  std::vector<ColumnFindings> findings;
  for (const TextColumn& column : columns) {
    ColumnFindings found{.table = table, .column = column.name, .rows = rows};
    found.nulls = rows - next();
    for (std::span<const DirtKind> kinds : layoutOf(packing)) {
      const qint64 total = next();
      for (std::size_t i = 0; i < kinds.size(); ++i) {
        found.counts[size_t(kinds[i])] = (total >> (packing.bits * int(i))) % packing.limit();
      }
    }
    findings.push_back(found);
  }
  return findings;
}

std::vector<qint64> totalsOf(Connection& connection, const QString& statement) {
  const auto row = connection.Execute(statement);
  std::vector<qint64> totals;
  for (int field = 0; !row->Eof() && field < row->Fields().count(); ++field) {
    bool isNumber = false;
    const qint64 total = row->Value(field).value_or(QStringLiteral("0")).toLongLong(&isNumber);
    if (!isNumber || total < 0) {
      throw DbError(QStringLiteral("The server answered a count of the scan with \"%1\", which "
                                   "is not a count.")
                        .arg(row->Value(field).value_or(QString()).left(40)));
    }
    totals.push_back(total);
  }
  return totals;
}

// Where a table of this many rows is counted in two slices of its key side by side: the
// server gives each statement one core.
constexpr qint64 SlicedFromRows = 200'000;

// The conditions that cut a table in two halves of its key, when its key begins with an
// integer column; else one slice, the whole table. The halves cover rows added meanwhile.
QStringList slicesOf(Connection& connection, const QString& table) {
  const QStringList key = MariaDbPrimaryKey(connection, table);
  if (key.isEmpty()) return {QString()};
  const QString& name = key.front();
  const auto integer = connection.Execute(
      QStringLiteral("SELECT 1 FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() "
                     "AND TABLE_NAME = %1 AND COLUMN_NAME = %2 AND DATA_TYPE IN ('tinyint', "
                     "'smallint', 'mediumint', 'int', 'bigint')")
          .arg(TextLiteral(table), TextLiteral(name)));
  if (integer->Eof()) return {QString()};
  const QString column = QuotedName(name);
  // Halves added, not the range halved: no sum leaves the column's type.
  const auto middle =
      connection.Execute(QStringLiteral("SELECT MIN(%1) DIV 2 + MAX(%1) DIV 2 FROM %2")
                             .arg(column, QuotedName(table)));
  bool isNumber = false;
  const qint64 at = middle->Eof() ? 0 : middle->Value(0).value_or(QString()).toLongLong(&isNumber);
  if (!isNumber) return {QString()};
  return {QStringLiteral(" WHERE %1 <= %2").arg(column).arg(at),
          QStringLiteral(" WHERE %1 > %2").arg(column).arg(at)};
}

void addTo(std::vector<qint64>& totals, const std::vector<qint64>& more) {
  for (std::size_t i = 0; i < totals.size() && i < more.size(); ++i) totals[i] += more[i];
}

// Each statement's totals, added: the first on `connection`, the others on companions of
// it at the same time. When one fails, the others are ended and the first failure thrown.
// A server that refuses more connections has them run one after the other.
std::vector<qint64> totalsSideBySide(Connection& connection, const QStringList& statements) {
  std::vector<std::unique_ptr<Connection>> companions;
  try {
    for (qsizetype i = 1; i < statements.size(); ++i) {
      companions.push_back(connection.OpenCompanion());
    }
  } catch (const DbError&) {
    std::vector<qint64> totals = totalsOf(connection, statements[0]);
    for (qsizetype i = 1; i < statements.size(); ++i) {
      addTo(totals, totalsOf(connection, statements[i]));
    }
    return totals;
  }
  std::atomic<bool> failed = false;
  std::vector<std::future<std::vector<qint64>>> others;
  for (qsizetype i = 1; i < statements.size(); ++i) {
    others.push_back(std::async(std::launch::async, [&, i] {
      try {
        return totalsOf(*companions[size_t(i - 1)], statements[i]);
      } catch (...) {
        failed = true;
        connection.Cancel();
        throw;
      }
    }));
  }
  std::vector<qint64> totals;
  std::exception_ptr failure;
  try {
    totals = totalsOf(connection, statements[0]);
  } catch (...) {
    failure = std::current_exception();
    failed = true;
  }
  for (auto& other : others) {
    // A companion may not have begun its statement when it was first ended.
    while (failed && other.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
      connection.Cancel();
    }
    try {
      addTo(totals, other.get());
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
  return totals;
}

}  // namespace

std::vector<ColumnFindings> MariaDbEngine::scanTable(Connection& connection, const QString& table,
                                                     qint64 sampleRows, int kindsPerSum,
                                                     const QString& rows) const {
  const std::vector<TextColumn> columns = MariaDbTextColumns(connection, table);
  if (columns.empty()) return {};
  QString source = QuotedName(table);
  const bool narrowed = sampleRows > 0 || !rows.isEmpty();
  if (narrowed) {
    QStringList names;
    for (const TextColumn& column : columns) names << QuotedName(column.name);
    source = QStringLiteral("(SELECT %1 FROM %2%3%4) AS narrowed")
                 .arg(names.join(QStringLiteral(", ")), source, WhereClause(rows),
                      sampleRows > 0 ? QStringLiteral(" LIMIT %1").arg(sampleRows) : QString());
  }
  const qint64 estimate = sampleRows > 0 ? sampleRows : estimatedRows(connection, {table});
  // Halves of the key are slices of the table itself, not of narrowed rows.
  const QStringList slices =
      !narrowed && estimate >= SlicedFromRows ? slicesOf(connection, table) : QStringList{{}};
  // The estimate picks the tightest packing, with room for its error; a table that
  // outgrows it is counted again with the next.
  for (const Packing& packing : Packings) {
    const bool chosen =
        kindsPerSum > 0 ? packing.kindsPerSum <= kindsPerSum : packing.limit() > 2 * estimate;
    if (!chosen) continue;
    const QString counting =
        QStringLiteral("SELECT ") + sumsOf(columns, packing) + QStringLiteral(" FROM ") + source;
    QStringList statements;
    for (const QString& slice : slices) statements << counting + slice;
    const std::vector<qint64> totals = totalsSideBySide(connection, statements);
    if (auto findings = unpacked(totals, table, columns, packing)) return *findings;
  }
  return {};
}

std::vector<DirtExample> MariaDbEngine::dirtExamples(Connection& connection, const QString& table,
                                                     const QString& column, DirtKind kind,
                                                     int count, const QString& rows) const {
  std::optional<TextColumn> text;
  for (const TextColumn& candidate : MariaDbTextColumns(connection, table)) {
    if (candidate.name == column) text = candidate;
  }
  if (!text) return {};
  return examplesWhere(connection, table, column, MariaDbPrimaryKey(connection, table),
                       conditionOn(*text, kind), count, rows);
}
