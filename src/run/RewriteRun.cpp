#include "RewriteRun.h"

#include <QElapsedTimer>

#include "Connection.h"
#include "Dialogs.h"
#include "RowRewriter.h"
#include "RunJournal.h"
#include "WorkerThread.h"

namespace {

constexpr int RewriteTimeoutSeconds = 5000;

RecordOutcome outcomeOf(RowRewriter::Outcome rewritten) {
  switch (rewritten) {
    case RowRewriter::Outcome::Written:
      return RecordOutcome::Written;
    case RowRewriter::Outcome::AlreadyThere:
      return RecordOutcome::Unchanged;
    case RowRewriter::Outcome::ChangedSince:
      return RecordOutcome::ChangedSince;
    case RowRewriter::Outcome::Gone:
      return RecordOutcome::Gone;
    case RowRewriter::Outcome::Refused:
      return RecordOutcome::Reported;
    case RowRewriter::Outcome::NotWritten:
      return RecordOutcome::Interrupted;
    case RowRewriter::Outcome::InDoubt:
      return RecordOutcome::InDoubt;
  }
  return RecordOutcome::Reported;
}

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
    connection.Open(connectionString_);
    rewriter = std::make_unique<RowRewriter>(connection, target.database, target.table,
                                             target.identityColumns, target.keyed, target.column);
    journalId = journal_.beginRun(journaled);
  } catch (const std::exception& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
    return std::nullopt;
  }
  JournalRecorder recorder(journal_, journalId);

  RunProgress progress(total);
  watcher_.runStarted(description, progress, [this] { requestStop(); });
  QElapsedTimer clock;
  clock.start();
  QString firstFailure;
  // Said once at the end: one box per record would bury the user.
  const auto keepFirst = [&](const DbError& failure) {
    if (firstFailure.isEmpty()) firstFailure = QString::fromUtf8(failure.what());
  };
  const auto writeQueued = [&] {
    rewriter->flush(&recorder, [&](RowRewriter::Outcome outcome, const DbError* why) {
      if (why) keepFirst(*why);
      progress.count(outcomeOf(outcome));
      return !stopRequested_;
    });
  };
  RunWhileServingEvents([&] {
    try {
      source([&](const Rewrite& rewrite) {
        if (stopRequested_) throw RunEnd::Stopped;
        if (rewriter->grouped()) {
          rewriter->queue(rewrite.identity, rewrite.from, rewrite.to);
          if (rewriter->full()) writeQueued();
          return;
        }
        try {
          progress.count(
              outcomeOf(rewriter->rewrite(rewrite.identity, rewrite.from, rewrite.to, &recorder)));
        } catch (const DbError& failure) {
          if (failure.connectionLost()) throw;
          keepFirst(failure);
          progress.count(RecordOutcome::Reported);
        }
      });
    } catch (RunEnd stopped) {
      end_ = stopped;
    } catch (const DbError& lost) {
      firstFailure = QString::fromUtf8(lost.what());
      end_ = RunEnd::ConnectionLost;
    }
    // A stop ends the run at a chunk's end: what is queued is written.
    try {
      if (end_ != RunEnd::ConnectionLost && rewriter->grouped()) writeQueued();
    } catch (const DbError& ended) {
      firstFailure = QString::fromUtf8(ended.what());
      end_ = ended.connectionLost() ? RunEnd::ConnectionLost : RunEnd::Stopped;
    }
    if (stopRequested_ && end_ == RunEnd::Finished) end_ = RunEnd::Stopped;
  });
  summary_ = RunSummary{end_, progress.counts(), clock.elapsed(), description.since};
  const RunSummary& summary = summary_;
  try {
    journal_.endRun(JournalRunEnded(journalId, summary));
  } catch (const JournalError&) {
    // Its entries stay in the spool, for the next start to take in.
  }
  if (!firstFailure.isEmpty()) dialogs_.message(firstFailure);
  watcher_.runEnded(summary);
  return journalId;
}
