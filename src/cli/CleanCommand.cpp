#include "CleanCommand.h"

#include <unistd.h>

#include <QFile>
#include <iostream>

#include "ChangeFile.h"
#include "ChangePreview.h"
#include "CommandSupport.h"
#include "Commands.h"
#include "Connection.h"
#include "ConnectionString.h"
#include "Engine.h"
#include "FieldUpdateRun.h"
#include "Journal.h"
#include "NearestNames.h"
#include "OperationCatalogue.h"
#include "PrintedChanges.h"
#include "RecordSet.h"
#include "RewriteRun.h"
#include "SqlText.h"
#include "Terminal.h"
#include "VisibleText.h"

namespace {

int listOperations() {
  for (const CleaningOperation& operation : Catalogue()) {
    std::cout << OperationShortName(operation).toStdString() << "\t"
              << operation.caption.toString().toStdString();
    for (const QString& question : OperationQuestions(operation.kind)) {
      std::cout << "\t\"" << question.toStdString() << '"';
    }
    std::cout << "\n";
  }
  return AllWritten;
}

// What is wrong with options that no server would take, before one is asked.
QString optionProblem(const CleanOptions& options) {
  bool number = false;
  const int port = options.port.toInt(&number);
  if (!options.port.isEmpty() && (!number || port < 1 || port > 65535)) {
    return QStringLiteral("--port is a number from 1 to 65535, not '%1'.").arg(options.port);
  }
  const std::optional<Encryption> mode = EncryptionNamed(options.sslMode);
  const bool checks = mode == Encryption::VerifyCa || mode == Encryption::VerifyIdentity;
  if (checks && options.sslCa.isEmpty()) {
    return QStringLiteral(
               "--ssl-mode=%1 checks the server's certificate: give the CA file "
               "that signed it with --ssl-ca.")
        .arg(options.sslMode);
  }
  return {};
}

// Answers beyond the operation's questions are most likely meant for another operation.
QString answersProblem(const CleaningOperation& operation, const QStringList& answers) {
  const qsizetype questions = OperationQuestions(operation.kind).size();
  if (answers.size() <= questions) return {};
  const QString name = OperationShortName(operation);
  if (questions == 0) {
    return QStringLiteral(
               "The operation \"%1\" asks no question, so --answer has nothing to "
               "answer.")
        .arg(name);
  }
  return QStringLiteral("The operation \"%1\" asks %2 %3, and --answer was given %4 times.")
      .arg(name)
      .arg(questions)
      .arg(questions == 1 ? QStringLiteral("question") : QStringLiteral("questions"))
      .arg(answers.size());
}

// map-values' pairs from --map FILE, its one answer.
std::optional<QString> mapOf(const CleaningOperation& operation, const QString& path) {
  if (operation.kind != OperationKind::ValueMap) {
    Fail(QStringLiteral("--map goes with --operation map-values."));
    return std::nullopt;
  }
  QFile file(path);
  constexpr qint64 Largest = qint64(64) << 20;
  if (!file.open(QIODevice::ReadOnly) || file.size() > Largest) {
    Fail(QStringLiteral("The map '%1' cannot be read: %2.")
             .arg(path, file.isOpen() ? QStringLiteral("it is over 64 MiB") : file.errorString()));
    return std::nullopt;
  }
  return QString::fromUtf8(file.readAll());
}

// The changes of a dry run's file that the table still calls for, written as Apply writes
// a preview's ticked changes: checked, journaled, one run.
int applyChosen(ChangePreview& changes, const ChangeFile& chosen, const QString& connectionString,
                Journal& journal, TerminalDialogs& dialogs, TerminalProgress& progress) {
  const qsizetype gone = chosen.choose(changes);
  if (gone > 0) {
    Fail(QStringLiteral("%1 of the file's %2 are no longer what the operation makes of the "
                        "table (their rows changed since): they are left as they are.")
             .arg(CountText(gone),
                  CountedText(chosen.size(), QStringLiteral("change"), QStringLiteral("changes"))));
  }
  if (changes.chosen() == 0) return gone > 0 ? SomeReported : AllWritten;
  RewriteRun rewrites(journal, ParseConnectionString(connectionString), dialogs, progress);
  ApplyPreview(changes, rewrites);
  TellJournaled(progress.summary());
  if (!progress.summary()) return ConnectionFailed;
  const int status = StatusOf(*progress.summary());
  return status == AllWritten && gone > 0 ? SomeReported : status;
}

bool hasRecords(Connection& connection, const QString& table) {
  const auto one =
      connection.Execute(QStringLiteral("SELECT 1 FROM ") + EngineOf(connection).quotedTable(table) +
                         QStringLiteral(" LIMIT 1"));
  return one->isOpen() && !one->Eof();
}

// A run that never reached its records: a refused, missing or empty answer, or a report.
int statusWithoutRecords(const TerminalDialogs& dialogs, const CleaningOperation& operation,
                         const QString& quietEnd) {
  if (const std::optional<QString> question = dialogs.missingAnswer()) {
    Fail(QStringLiteral("The operation \"%1\" asks \"%2\"; give it with --answer.")
             .arg(OperationShortName(operation), *question));
    return UsageError;
  }
  // A script that passes an empty answer by mistake must not take "nothing" for success.
  if (!quietEnd.isEmpty()) {
    Fail(quietEnd);
    return UsageError;
  }
  return dialogs.messagesShown() > 0 ? UsageError : AllWritten;
}

}  // namespace

namespace {

// The options that no command takes as given: a usage error, said, or nothing.
std::optional<int> usageProblem(const CleanOptions& options) {
  QString problem = ServerNameProblem(options.host);
  if (problem.isEmpty() && options.sslMode.size() && !EncryptionNamed(options.sslMode)) {
    problem =
        QStringLiteral("--ssl-mode is one of PREFERRED, REQUIRED, VERIFY_CA, VERIFY_IDENTITY.");
  }
  if (problem.isEmpty()) problem = optionProblem(options);
  if (problem.isEmpty()) return std::nullopt;
  Fail(problem);
  return UsageError;
}

// What a cleaning of one field is asked to do: the operation, its answers, and the changes
// chosen from a change file.
struct FieldCleaning {
  const CleaningOperation* operation = nullptr;
  QStringList answers;
  std::optional<ChangeFile> chosen;
};

// Nothing, once said why, when the operation, its answers or the change file will not do.
std::optional<FieldCleaning> fieldCleaningOf(const CleanOptions& options) {
  FieldCleaning cleaning;
  cleaning.operation = FindOperationByName(options.operation);
  if (!cleaning.operation) {
    Fail(QStringLiteral("No operation '%1'%2; --list-operations lists them.")
             .arg(options.operation, DidYouMean(NearestOperationNames(options.operation))));
    return std::nullopt;
  }
  cleaning.answers = options.answers;
  if (!options.mapFile.isEmpty()) {
    const std::optional<QString> map = mapOf(*cleaning.operation, options.mapFile);
    if (!map) return std::nullopt;
    cleaning.answers << *map;
  }
  QString problem = answersProblem(*cleaning.operation, cleaning.answers);
  if (problem.isEmpty() && !options.applyChanges.isEmpty()) {
    cleaning.chosen = ChangeFile::read(options.applyChanges, problem);
  }
  if (!problem.isEmpty()) {
    Fail(problem);
    return std::nullopt;
  }
  return cleaning;
}

// The table and field to clean, found on the server; nothing when they will not do, once
// said why, with the exit `status` that tells it. Says how far the link can be trusted
// where a person reads it.
std::optional<ChosenField> checkedField(const CleanOptions& options,
                                        const QString& connectionString, int& status) {
  Connection connection;
  try {
    connection.Open(connectionString);
    if (IsTerminal(STDERR_FILENO)) {
      std::cerr << "Link to the server: "
                << WithControlMarks(connection.linkDescription()).toStdString() << ".\n";
    }
    std::optional<ChosenField> chosen = ChosenFieldOf(connection, options);
    status = UsageError;
    if (chosen && !hasRecords(connection, options.table)) {
      Fail(QStringLiteral("The table '%1' has no records: there is nothing to clean.")
               .arg(options.table));
      return std::nullopt;
    }
    return chosen;
  } catch (const DbError& failure) {
    status = FailedToConnect(failure, options);
    return std::nullopt;
  }
}

// Runs the operation on the field, previews it (--dry-run), or applies the chosen changes.
int cleanField(const CleanOptions& options, const FieldCleaning& cleaning, const ChosenField& field,
               const QString& connectionString) {
  TextList tables, fieldList, preview;
  tables.addItem(options.table);
  for (const QString& name : field.fields) fieldList.addItem(name);
  fieldList.select(int(field.fields.indexOf(field.field)));
  TerminalDialogs dialogs(cleaning.answers);
  if (options.allReports) dialogs.printEveryReport();
  HeldPointer pointer;
  TerminalProgress progress;
  const CleaningOperation& operation = *cleaning.operation;
  Journal journal(Journal::defaultPath());
  TellDamage(journal);
  FieldUpdateRun run({tables, fieldList, preview}, operation.caption.toString(), connectionString,
                     pointer, dialogs, progress, journal);
  if (options.quietReports) run.reportIntoSummary();
  run.setRowCondition(options.where);
  if (options.dryRun) {
    StreamedChanges printed(options.json);
    run.drainPreviewEvery(PrintedBatch, [&](const ChangePreview& batch) { printed.drain(batch); });
    const std::unique_ptr<ChangePreview> changes = run.preview();
    if (!changes) return statusWithoutRecords(dialogs, operation, run.quietEnd());
    if (const QString failure = printed.finish(*changes); !failure.isEmpty()) {
      Fail(failure);
      return SomeReported;
    }
    return changes->counts.failing > 0 ? SomeReported : AllWritten;
  }
  if (cleaning.chosen) {
    const std::unique_ptr<ChangePreview> changes = run.preview();
    if (!changes) return statusWithoutRecords(dialogs, operation, run.quietEnd());
    return applyChosen(*changes, *cleaning.chosen, connectionString, journal, dialogs, progress);
  }
  run.run();
  if (run.journalRefused()) return JournalFailed;
  TellJournaled(progress.summary());
  if (!progress.summary()) return statusWithoutRecords(dialogs, operation, run.quietEnd());
  return StatusOf(*progress.summary());
}

}  // namespace

int RunCleanCommand(const CleanOptions& options) {
  if (options.listOperations) return listOperations();
  if (const std::optional<int> problem = usageProblem(options)) return *problem;
  try {
    if (options.history) return ListHistory(options.json);
    if (options.scan) return ScanDatabase(options);
    if (options.values) return ListValues(options);
    if (!options.cluster.isEmpty()) return ClusterFieldValues(options);
    if (options.undo) return UndoJournaledRun(options);
    if (!options.recipe.isEmpty()) return RunRecipeFile(options);
    const std::optional<FieldCleaning> cleaning = fieldCleaningOf(options);
    if (!cleaning) return UsageError;
    const std::optional<QString> connectionString = ConnectionStringFor(options);
    if (!connectionString) return UsageError;
    int status = 0;
    const std::optional<ChosenField> field = checkedField(options, *connectionString, status);
    if (!field) return status;
    return cleanField(options, *cleaning, *field, *connectionString);
  } catch (const JournalError& failure) {
    Fail(QString::fromUtf8(failure.what()));
    return JournalFailed;
  }
}
