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
  RewriteRun rewrites(journal, connectionString, dialogs, progress);
  ApplyPreview(changes, rewrites, connectionString);
  TellJournaled(progress.summary());
  if (!progress.summary()) return ConnectionFailed;
  const int status = StatusOf(*progress.summary());
  return status == AllWritten && gone > 0 ? SomeReported : status;
}

bool hasRecords(Connection& connection, const QString& table) {
  const auto one = connection.Execute(QStringLiteral("SELECT 1 FROM ") + QuotedName(table) +
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

int RunCleanCommand(const CleanOptions& options) {
  if (options.listOperations) return listOperations();
  if (const QString problem = ServerNameProblem(options.host); !problem.isEmpty()) {
    Fail(problem);
    return UsageError;
  }
  if (options.sslMode.size() && !EncryptionNamed(options.sslMode)) {
    Fail(QStringLiteral("--ssl-mode is one of PREFERRED, REQUIRED, VERIFY_CA, VERIFY_IDENTITY."));
    return UsageError;
  }
  if (const QString problem = optionProblem(options); !problem.isEmpty()) {
    Fail(problem);
    return UsageError;
  }
  try {
    if (options.history) return ListHistory(options.json);
    if (options.scan) return ScanDatabase(options);
    if (options.values) return ListValues(options);
    if (options.undo) return UndoJournaledRun(options);
    if (!options.recipe.isEmpty()) return RunRecipeFile(options);
  } catch (const JournalError& failure) {
    Fail(QString::fromUtf8(failure.what()));
    return JournalFailed;
  }
  const CleaningOperation* operation = FindOperationByName(options.operation);
  if (!operation) {
    Fail(QStringLiteral("No operation '%1'%2; --list-operations lists them.")
             .arg(options.operation, DidYouMean(NearestOperationNames(options.operation))));
    return UsageError;
  }
  QStringList answers = options.answers;
  if (!options.mapFile.isEmpty()) {
    const std::optional<QString> map = mapOf(*operation, options.mapFile);
    if (!map) return UsageError;
    answers << *map;
  }
  if (const QString problem = answersProblem(*operation, answers); !problem.isEmpty()) {
    Fail(problem);
    return UsageError;
  }
  std::optional<ChangeFile> chosen;
  if (!options.applyChanges.isEmpty()) {
    QString problem;
    chosen = ChangeFile::read(options.applyChanges, problem);
    if (!chosen) {
      Fail(problem);
      return UsageError;
    }
  }
  const std::optional<QString> built = ConnectionStringFor(options);
  if (!built) return UsageError;
  const QString connectionString = *built;
  Connection connection;
  std::optional<ChosenField> chosenField;
  try {
    connection.Open(connectionString);
    // Said where a person reads it: how far the link can be trusted.
    if (IsTerminal(STDERR_FILENO)) {
      std::cerr << "Link to the server: "
                << WithControlMarks(connection.linkDescription()).toStdString() << ".\n";
    }
    chosenField = ChosenFieldOf(connection, options);
    if (!chosenField) return UsageError;
    if (!hasRecords(connection, options.table)) {
      Fail(QStringLiteral("The table '%1' has no records: there is nothing to clean.")
               .arg(options.table));
      return UsageError;
    }
  } catch (const DbError& failure) {
    return FailedToConnect(failure, options);
  }
  connection.Close();

  TextList tables, fieldList, preview;
  tables.addItem(options.table);
  for (const QString& name : chosenField->fields) fieldList.addItem(name);
  fieldList.select(int(chosenField->fields.indexOf(chosenField->field)));
  TerminalDialogs dialogs(answers);
  if (options.allReports) dialogs.printEveryReport();
  HeldPointer pointer;
  TerminalProgress progress;
  QString quietEnd;
  try {
    Journal journal(Journal::defaultPath());
    TellDamage(journal);
    FieldUpdateRun run({tables, fieldList, preview}, operation->caption.toString(),
                       connectionString, pointer, dialogs, progress, journal);
    if (options.quietReports) run.reportIntoSummary();
    run.setRowCondition(options.where);
    if (options.dryRun) {
      StreamedChanges printed(options.json);
      run.drainPreviewEvery(PrintedBatch,
                            [&](const ChangePreview& batch) { printed.drain(batch); });
      const std::unique_ptr<ChangePreview> changes = run.preview();
      if (!changes) return statusWithoutRecords(dialogs, *operation, run.quietEnd());
      if (const QString failure = printed.finish(*changes); !failure.isEmpty()) {
        Fail(failure);
        return SomeReported;
      }
      return changes->counts.failing > 0 ? SomeReported : AllWritten;
    }
    if (chosen) {
      const std::unique_ptr<ChangePreview> changes = run.preview();
      if (!changes) return statusWithoutRecords(dialogs, *operation, run.quietEnd());
      return applyChosen(*changes, *chosen, connectionString, journal, dialogs, progress);
    }
    run.run();
    if (run.journalRefused()) return JournalFailed;
    quietEnd = run.quietEnd();
    TellJournaled(progress.summary());
  } catch (const JournalError& failure) {
    Fail(QString::fromUtf8(failure.what()));
    return JournalFailed;
  }
  if (!progress.summary()) return statusWithoutRecords(dialogs, *operation, quietEnd);
  return StatusOf(*progress.summary());
}
