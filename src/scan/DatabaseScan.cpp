#include "DatabaseScan.h"

#include "Engine.h"
#include "OperationCatalogue.h"

namespace {

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

QString DirtKindCaption(DirtKind kind) {
  static const std::array<QString, DirtKindCount> Captions = {
      QStringLiteral("Leading spaces"),    QStringLiteral("Trailing spaces"),
      QStringLiteral("Double spaces"),     QStringLiteral("Tabs"),
      QStringLiteral("Line breaks"),       QStringLiteral("No-break spaces"),
      QStringLiteral("Other spaces"),      QStringLiteral("Zero-width characters"),
      QStringLiteral("Control characters")};
  return Captions[size_t(kind)];
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

std::vector<ColumnFindings> ScanTable(Connection& connection, const QString& table,
                                      qint64 sampleRows, int kindsPerSum, const QString& rows) {
  return EngineOf(connection).scanTable(connection, table, sampleRows, kindsPerSum, rows);
}

std::vector<DirtExample> DirtExamples(Connection& connection, const QString& table,
                                      const QString& column, DirtKind kind, int count,
                                      const QString& rows) {
  return EngineOf(connection).dirtExamples(connection, table, column, kind, count, rows);
}
