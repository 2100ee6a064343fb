#pragma once

#include <QString>
#include <array>

// What a scan counts and finds, whatever the engine that counts it.

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

// What a scan found in one text column: how many rows hold each kind.
struct ColumnFindings {
  QString table;
  QString column;
  qint64 rows = 0;
  qint64 nulls = 0;
  std::array<qint64, DirtKindCount> counts{};
};

// A value that holds a kind of dirt, and the key of its row ("id = 5"; empty for a table
// without a primary key).
struct DirtExample {
  QString key;
  QString value;
};
