#include "UndoRun.h"

#include <QElapsedTimer>

#include "Connection.h"
#include "ConnectionString.h"
#include "Dialogs.h"
#include "Journal.h"
#include "RowRestorer.h"
#include "RunJournal.h"
#include "WorkerThread.h"

namespace {

constexpr int UndoTimeoutSeconds = 5000;

RecordOutcome outcomeOf(RowRestorer::Outcome restored) {
  switch (restored) {
    case RowRestorer::Outcome::Restored:
      return RecordOutcome::Written;
    case RowRestorer::Outcome::AlreadyBefore:
      return RecordOutcome::Unchanged;
    case RowRestorer::Outcome::ChangedSince:
      return RecordOutcome::ChangedSince;
    case RowRestorer::Outcome::Gone:
      return RecordOutcome::Gone;
  }
  return RecordOutcome::Reported;
}

bool sameServer(const JournalRun& run, const ConnectionAttributes& login) {
  return run.server.compare(login.server, Qt::CaseInsensitive) == 0 &&
         run.port.trimmed() == login.port.trimmed();
}

}  // namespace

UndoRun::UndoRun(Journal& journal, qint64 runId, QString connectionString, Dialogs& dialogs,
                 RunWatcher& watcher)
    : journal_(journal),
      runId_(runId),
      connectionString_(std::move(connectionString)),
      dialogs_(dialogs),
      watcher_(watcher) {}

// A run that is gone, taken back already, wrote nothing or was made elsewhere is told
// so and left.
bool UndoRun::refusesTheRun() {
  const std::optional<JournalRun> run = journal_.run(runId_);
  QString refusal;
  if (!run) {
    refusal = QStringLiteral("This run is no longer in the journal.");
  } else if (run->undoneBy) {
    refusal = QStringLiteral("This run was undone already, by run %1.").arg(run->undoneBy);
  } else if (run->identityColumns.isEmpty()) {
    refusal = QStringLiteral("This run wrote nothing, so there is nothing to undo.");
  } else if (!sameServer(*run, ParseConnectionString(connectionString_))) {
    refusal = QStringLiteral(
                  "This run was made on the server %1, port %2. Log in to that "
                  "server to undo it.")
                  .arg(run->server, run->port);
  }
  if (refusal.isEmpty()) return false;
  dialogs_.message(refusal);
  return true;
}

void UndoRun::run() {
  if (refusesTheRun()) return;
  const JournalRun undone = *journal_.run(runId_);
  Connection connection;
  std::unique_ptr<RowRestorer> restorer;
  try {
    connection.CommandTimeout = UndoTimeoutSeconds;
    connection.Open(connectionString_);
    restorer = std::make_unique<RowRestorer>(connection, undone.database, undone.table,
                                             undone.identityColumns, undone.keyed, undone.column);
  } catch (const DbError& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
    return;
  }

  const RunDescription description{
      undone.database + u'.' + undone.table, undone.field,
      QStringLiteral("Undo Run %1 (%2)").arg(undone.id).arg(undone.operation), undone.answers};
  JournalRun journaled = JournalRunOf(description, ParseConnectionString(connectionString_));
  journaled.database = undone.database;
  journaled.table = undone.table;
  journaled.undoes = undone.id;
  const qint64 undoId = journal_.beginRun(journaled);
  JournalRecorder recorder(journal_, undoId);

  RunProgress progress(undone.entries);
  watcher_.runStarted(description, progress, [this] { requestStop(); });
  QElapsedTimer clock;
  clock.start();
  RunEnd end = RunEnd::Finished;
  QString firstFailure;
  RunWhileServingEvents([&] {
    try {
      journal_.forEachEntry(undone.id, [&](const JournalEntry& entry) {
        if (stopRequested_) throw RunEnd::Stopped;
        try {
          progress.count(
              outcomeOf(restorer->restore(entry.identity, entry.before, entry.after, &recorder)));
        } catch (const DbError& failure) {
          if (failure.connectionLost()) throw;
          // Said once at the end: one box per record would bury the user.
          if (firstFailure.isEmpty()) firstFailure = QString::fromUtf8(failure.what());
          progress.count(RecordOutcome::Reported);
        }
      });
    } catch (RunEnd stopped) {
      end = stopped;
    } catch (const DbError& lost) {
      firstFailure = QString::fromUtf8(lost.what());
      end = RunEnd::ConnectionLost;
    }
  });
  const RunSummary summary{end, progress.counts(), clock.elapsed()};
  journal_.endRun(JournalRunEnded(undoId, summary));
  if (end == RunEnd::Finished) journal_.markUndone(undone.id, undoId);
  if (!firstFailure.isEmpty()) dialogs_.message(firstFailure);
  watcher_.runEnded(summary);
}
