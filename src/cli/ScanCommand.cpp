// klarifeld-clean --scan: the dirt of every text column, counted on the server.
#include <iostream>

#include "CommandSupport.h"
#include "Commands.h"
#include "Connection.h"
#include "Engine.h"
#include "RunProgress.h"
#include "TablesScan.h"
#include "Terminal.h"

namespace {

QString jsonString(const QString& text) {
  QByteArray out;
  AppendJsonString(out, text.toUtf8());
  return QString::fromUtf8(out);
}

// One line per column, in the order and spacing that scripts are shown.
QString scanJson(const ColumnFindings& found) {
  QStringList counts, suggestions;
  for (DirtKind kind : DirtKinds) {
    const qint64 count = found.counts[size_t(kind)];
    counts << QStringLiteral("\"%1\": %2").arg(DirtKindName(kind)).arg(count);
    if (count == 0) continue;
    const CleaningSuggestion suggestion = SuggestionFor(kind);
    QStringList answers;
    for (const QString& answer : suggestion.answers) answers << jsonString(answer);
    suggestions << QStringLiteral("\"%1\": {\"operation\": \"%2\", \"answers\": [%3]}")
                       .arg(DirtKindName(kind), suggestion.operation, answers.join(u", "));
  }
  return QStringLiteral(
             "{\"table\": %1, \"column\": %2, \"rows\": %3, \"nulls\": %4, "
             "\"counts\": {%5}, \"suggestions\": {%6}}")
      .arg(jsonString(found.table), jsonString(found.column))
      .arg(found.rows)
      .arg(found.nulls)
      .arg(counts.join(u", "), suggestions.join(u", "));
}

// The tables that the main window lists: the database's own, not its views, and none whose
// name begins with "sys".
QStringList scannedTables(Connection& connection, const CleanOptions& options) {
  QStringList tables;
  for (const QString& name : EngineOf(connection).baseTables(connection)) {
    if (!options.table.isEmpty() ? name == options.table
                                 : !name.startsWith(QStringLiteral("sys"), Qt::CaseInsensitive)) {
      tables << name;
    }
  }
  return tables;
}

// The findings as an aligned table, a row for each kind found in a column.
void printFindings(const std::vector<ColumnFindings>& findings) {
  QList<QStringList> lines{{"table", "column", "kind", "rows", "share", "operation"}};
  for (const ColumnFindings& found : findings) {
    for (DirtKind kind : DirtKinds) {
      const qint64 count = found.counts[size_t(kind)];
      if (count == 0) continue;
      const CleaningSuggestion suggestion = SuggestionFor(kind);
      QString operation = suggestion.operation;
      for (const QString& answer : suggestion.answers)
        operation += QStringLiteral(" --answer '%1'").arg(answer);
      lines << QStringList{
          found.table,
          found.column,
          DirtKindName(kind),
          CountText(count),
          QStringLiteral("%1 %").arg(
              100.0 * double(count) / double(std::max<qint64>(found.rows, 1)), 0, 'f', 1),
          operation};
    }
  }
  if (lines.size() == 1) {
    std::cout << "No dirt found in "
              << CountedText(qint64(findings.size()), QStringLiteral("text column"),
                             QStringLiteral("text columns"))
                     .toStdString()
              << ".\n";
    return;
  }
  PrintAligned(lines);
}

int printScan(const CleanOptions& options, const std::vector<ColumnFindings>& findings) {
  if (options.json) {
    for (const ColumnFindings& found : findings) {
      QString line = scanJson(found);
      if (options.sample) line.insert(line.size() - 1, QStringLiteral(", \"sample\": true"));
      std::cout << line.toStdString() << '\n';
    }
    return AllWritten;
  }
  if (options.sample) {
    std::cout
        << "A sample: the first "
        << CountedText(options.sample, QStringLiteral("row"), QStringLiteral("rows")).toStdString()
        << " of each table.\n";
  }
  if (findings.empty()) {
    std::cout << "No text columns to scan.\n";
  } else {
    printFindings(findings);
  }
  return AllWritten;
}

}  // namespace

// Counts each kind of dirt in the text columns, on the server; an aligned table for people,
// one JSON object per column for scripts.
int ScanDatabase(const CleanOptions& options) {
  const std::optional<QString> connectionString = ConnectionStringFor(options);
  if (!connectionString) return UsageError;
  Connection connection;
  std::vector<ColumnFindings> findings;
  try {
    connection.CommandTimeout = 0;  // a big table takes its time; Ctrl+C ends it
    connection.Open(*connectionString);
    const QStringList tables = scannedTables(connection, options);
    if (tables.isEmpty() && !options.table.isEmpty()) {
      Fail(QStringLiteral("No table '%1' in the database '%2' (a view is not scanned).")
               .arg(options.table, options.database));
      return UsageError;
    }
    if (tables.isEmpty()) {
      // Nothing is wrong with an empty database; JSON stays empty for the scripts that read it.
      const std::string said = QStringLiteral("The database '%1' has no tables to scan.")
                                   .arg(options.database)
                                   .toStdString();
      (options.json ? std::cerr : std::cout) << said << '\n';
      return AllWritten;
    }
    // On a worker, so that Ctrl+C can end the statement on the server.
    const InterruptWatch interrupt([&] { connection.Cancel(); });
    const TablesScanned ended = ScanTables(
        connection, tables, {options.sample, options.where},
        [](qsizetype, const QString&) { return true; },
        [&](const QString&, std::vector<ColumnFindings>&& found) {
          findings.insert(findings.end(), found.begin(), found.end());
        });
    if (ended.failure && interrupt.interrupted()) {
      Fail(QStringLiteral("Stopped by Ctrl+C after %1 of %2 tables; nothing is printed.")
               .arg(ended.scanned)
               .arg(tables.size()));
      return SomeReported;
    }
    if (ended.failure) throw *ended.failure;
  } catch (const DbError& failure) {
    Fail(QStringLiteral("Could not scan: %1").arg(QString::fromUtf8(failure.what())));
    return ConnectionFailed;
  }
  return printScan(options, findings);
}
