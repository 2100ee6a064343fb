// klarifeld-clean --history and --undo: the journal's runs, and taking one back.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <iostream>

#include "CommandSupport.h"
#include "Commands.h"
#include "Journal.h"
#include "PrintedChanges.h"
#include "RunJournal.h"
#include "Terminal.h"
#include "UndoRun.h"

namespace {

// An undo goes where its run went: the server, port and database that the journal recorded
// stand in for those not given.
CleanOptions recordedServer(const CleanOptions& options, const Journal& journal) {
  CleanOptions target = options;
  const std::optional<JournalRun> run = journal.run(options.undo);
  if (!run || options.profile) return target;
  // The run's own server, database and engine, unless the command line says otherwise.
  const std::pair<const char*, std::pair<QString*, QString>> recorded[] = {
      {"host", {&target.host, run->server}},
      {"port", {&target.port, run->port}},
      {"database", {&target.database, run->database}}};
  for (const auto& [name, field] : recorded) {
    if (options.given.contains(QLatin1String(name))) continue;
    *field.first = field.second;
    target.given << QLatin1String(name);
  }
  if (target.engine.isEmpty()) target.engine = run->engine;
  return target;
}

}  // namespace

// One line per run, newest first, in aligned columns; with --json one object per run.
int ListHistory(bool json) {
  const Journal journal(Journal::defaultPath());
  TellDamage(journal);
  QList<QStringList> lines{
      {"run", "started", "server", "field", "operation", "written", "ended", "undone"}};
  for (const JournalRun& run : journal.runs()) {
    const QString server = run.server + u':' + run.port;
    if (json) {
      const QJsonObject described{
          {QStringLiteral("run"), run.id},
          {QStringLiteral("started"), run.started.toString(Qt::ISODate)},
          {QStringLiteral("server"), server},
          {QStringLiteral("database"), run.database},
          {QStringLiteral("table"), run.table},
          {QStringLiteral("field"), run.field},
          {QStringLiteral("operation"), run.operation},
          {QStringLiteral("answers"), QJsonArray::fromStringList(run.answers)},
          {QStringLiteral("rows"), run.rows.isEmpty() ? QJsonValue() : QJsonValue(run.rows)},
          {QStringLiteral("written"), run.written},
          {QStringLiteral("inDoubt"), run.inDoubt},
          {QStringLiteral("ended"), JournalEndText(run.end)},
          {QStringLiteral("undoes"), run.undoes},
          {QStringLiteral("undoneBy"), run.undoneBy}};
      std::cout << QJsonDocument(described).toJson(QJsonDocument::Compact).toStdString() << '\n';
      continue;
    }
    lines << QStringList{QString::number(run.id),
                         run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                         server,
                         JournalRunWhere(run),
                         JournalRunOperation(run),
                         JournalWrittenText(run),
                         JournalEndText(run.end),
                         JournalUndoneText(run)};
  }
  if (json) return AllWritten;
  if (lines.size() == 1) {
    std::cout << "The journal holds no runs yet.\n";
  } else {
    PrintAligned(lines);
  }
  return AllWritten;
}

int UndoJournaledRun(const CleanOptions& options) {
  TerminalDialogs dialogs({});
  TerminalProgress progress;
  Journal journal(Journal::defaultPath());
  TellDamage(journal);
  const std::optional<QString> connectionString =
      ConnectionStringFor(recordedServer(options, journal));
  if (!connectionString) return UsageError;
  UndoRun undo(journal, options.undo, ParseConnectionString(*connectionString), dialogs, progress);
  if (options.dryRun) {
    // A recipe's undo names each change's table and field.
    StreamedPreviews printed(options.json, !journal.parts(options.undo).empty());
    const ChangePreviews changes = undo.preview(printed.setUp());
    if (changes.empty()) return UsageError;
    if (const QString failure = printed.finish(changes); !failure.isEmpty()) {
      Fail(failure);
      return SomeReported;
    }
    return AllWritten;
  }
  undo.run();
  if (!progress.summary()) return dialogs.messagesShown() > 0 ? UsageError : AllWritten;
  return StatusOf(*progress.summary());
}
