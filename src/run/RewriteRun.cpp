#include "RewriteRun.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include "Connection.h"
#include "Dialogs.h"
#include "RowRewriter.h"
#include "RunJournal.h"
#include "WorkerThread.h"

namespace {

constexpr int RewriteTimeoutSeconds = 5000;

}  // namespace

RewriteRun::RewriteRun(Journal& journal, QString connectionString, Dialogs& dialogs,
                       RunWatcher& watcher)
    : journal_(journal),
      connectionString_(std::move(connectionString)),
      dialogs_(dialogs),
      watcher_(watcher) {}

std::optional<qint64> RewriteRun::run(const RewriteTarget& target, JournalRun journaled,
                                      const RunDescription& description, qint64 total,
                                      const RewriteSource& source) {
  Connection connection;
  std::unique_ptr<RowRewriter> rewriter;
  qint64 journalId = 0;
  try {
    connection.CommandTimeout = RewriteTimeoutSeconds;
    connection.LockTimeout = RunControl::LockWaitSeconds;
    connection.Open(connectionString_);
    rewriter = std::make_unique<RowRewriter>(connection, target.database, target.table,
                                             target.identityColumns, target.keyed, target.column);
    journaled.cluster = ClusterOf(&connection);
    journalId = journal_.beginRun(journaled);
  } catch (const std::exception& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
    return std::nullopt;
  }
  JournalRecorder recorder(journal_, journalId);

  RunProgress progress(total);
  control_.watch(&connection);
  RunDescription shown = description;
  if (rewriter->grouped()) shown.stopping = StoppingAfterChunk(rewriter->chunkRows());
  watcher_.runStarted(shown, progress, [this] { requestStop(); });
  QElapsedTimer clock;
  clock.start();
  QString firstFailure;
  // Said once at the end: one box per record would bury the user.
  const auto keepFirst = [&](const DbError& failure) {
    if (firstFailure.isEmpty()) firstFailure = QString::fromUtf8(failure.what());
  };
  // A stop, a lost link or a failed journal ends the loop by what it throws.
  const auto goOnUnlessEnded = [&] {
    if (!recorder.failure().isEmpty()) throw RunEnd::JournalFailed;
    if (control_.stopRequested()) throw RunEnd::Stopped;
  };
  const auto writeQueued = [&] {
    try {
      rewriter->flush(
          &recorder,
          [&](RowRewriter::Outcome outcome, const DbError* why) {
            if (why) keepFirst(*why);
            progress.count(RecordOutcomeOf(outcome));
            return !control_.stopRequested();
          },
          &control_.writing());
    } catch (const JournalError&) {
      throw RunEnd::JournalFailed;
    }
  };
  const auto writeOne = [&](const Rewrite& rewrite) {
    control_.writing() = true;
    const auto done = qScopeGuard([this] { control_.writing() = false; });
    try {
      progress.count(RecordOutcomeOf(
          rewriter->rewrite(rewrite.identity, rewrite.from, rewrite.to, &recorder)));
    } catch (const DbError& failure) {
      if (failure.connectionLost() || control_.stopRequested()) throw;
      keepFirst(failure);
      progress.count(RecordOutcome::Reported);
    } catch (const JournalError&) {
      throw RunEnd::JournalFailed;
    }
  };
  RunWhileServingEvents([&] {
    const auto ended = [&](const DbError& failure) {
      if (control_.stopRequested() && (failure.connectionLost() || failure.interrupted())) {
        end_ = RunEnd::Stopped;
        return;
      }
      firstFailure = QString::fromUtf8(failure.what());
      end_ = failure.connectionLost() ? RunEnd::ConnectionLost : RunEnd::Stopped;
    };
    try {
      source([&](const Rewrite& rewrite) {
        goOnUnlessEnded();
        if (!rewriter->grouped()) return writeOne(rewrite);
        rewriter->queue(rewrite.identity, rewrite.from, rewrite.to);
        if (rewriter->full()) writeQueued();
      });
    } catch (RunEnd stopped) {
      end_ = stopped;
    } catch (const DbError& failure) {
      ended(failure);
    }
    // A stop ends the run at a chunk's end: what is queued is written.
    try {
      if ((end_ == RunEnd::Finished || end_ == RunEnd::Stopped) && rewriter->grouped()) {
        writeQueued();
      }
      goOnUnlessEnded();
    } catch (RunEnd stopped) {
      if (end_ == RunEnd::Finished || stopped == RunEnd::JournalFailed) end_ = stopped;
    } catch (const DbError& failure) {
      ended(failure);
    }
  });
  control_.watch(nullptr);
  control_.settle();
  summary_ = RunSummary{end_, progress.counts(), clock.elapsed(), description.since};
  if (end_ == RunEnd::JournalFailed) {
    firstFailure = QStringLiteral(
                       "The journal that keeps the old values could not be written (%1), so "
                       "this stopped: the records after it were not touched.")
                       .arg(recorder.failure());
  }
  if (!firstFailure.isEmpty()) dialogs_.message(firstFailure);
  EndJournalRun(journal_, journalId, summary_, dialogs_);
  watcher_.runEnded(summary_);
  return journalId;
}
