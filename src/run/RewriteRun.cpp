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
  const std::optional<qint64> id = runAll(
      {RewritePart{{}, target, std::move(journaled), total, source}}, std::nullopt, description);
  return id && !partsDone_.empty() ? std::optional(partsDone_.front().journalId) : std::nullopt;
}

std::optional<qint64> RewriteRun::runParts(const std::vector<RewritePart>& parts, JournalRun whole,
                                           const RunDescription& description) {
  return runAll(parts, std::move(whole), description);
}

namespace {

RunCounts countsSince(const RunCounts& now, const RunCounts& before) {
  return {.total = now.done - before.done,
          .done = now.done - before.done,
          .written = now.written - before.written,
          .unchanged = now.unchanged - before.unchanged,
          .reported = now.reported - before.reported,
          .inDoubt = now.inDoubt - before.inDoubt,
          .changedSince = now.changedSince - before.changedSince,
          .gone = now.gone - before.gone};
}

}  // namespace

std::optional<qint64> RewriteRun::runAll(const std::vector<RewritePart>& parts,
                                         std::optional<JournalRun> whole,
                                         const RunDescription& description) {
  if (parts.empty()) return std::nullopt;
  Connection connection;
  // A part's rewriter is made as the part begins: the chunk table on the session is its own.
  const auto rewriterOf = [&](const RewriteTarget& target) {
    return std::make_unique<RowRewriter>(connection, target.database, target.table,
                                         target.identityColumns, target.keyed, target.column);
  };
  std::optional<qint64> wholeId;
  partsDone_.clear();
  qint64 total = 0;
  RunDescription shown = description;
  try {
    connection.CommandTimeout = RewriteTimeoutSeconds;
    connection.LockTimeout = RunControl::LockWaitSeconds;
    connection.Open(connectionString_);
    // Every part can find its rows, or none is written.
    for (const RewritePart& part : parts) {
      const std::unique_ptr<RowRewriter> rewriter = rewriterOf(part.target);
      if (&part == &parts.front() && rewriter->grouped()) {
        shown.stopping = StoppingAfterChunk(rewriter->chunkRows());
      }
      total += part.total;
    }
    const QString cluster = ClusterOf(&connection);
    if (whole) {
      whole->cluster = cluster;
      wholeId = journal_.beginRun(*whole);
    }
    for (const RewritePart& part : parts) {
      JournalRun journaled = part.journaled;
      journaled.cluster = cluster;
      journaled.partOf = wholeId.value_or(0);
      partsDone_.push_back({journal_.beginRun(journaled), {}});
    }
  } catch (const std::exception& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
    return std::nullopt;
  }

  RunProgress progress(total);
  control_.watch(&connection);
  watcher_.runStarted(shown, progress, [this] { requestStop(); });
  QElapsedTimer clock;
  clock.start();
  QString firstFailure, journalFailure;
  // Said once at the end: one box per record would bury the user.
  const auto keepFirst = [&](const DbError& failure) {
    if (firstFailure.isEmpty()) firstFailure = QString::fromUtf8(failure.what());
  };
  const auto rewritePart = [&](RowRewriter& rewriter, JournalRecorder& recorder,
                               const RewriteSource& source) {
    // A stop, a lost link or a failed journal ends the loop by what it throws.
    const auto goOnUnlessEnded = [&] {
      if (!recorder.failure().isEmpty()) throw RunEnd::JournalFailed;
      if (control_.stopRequested()) throw RunEnd::Stopped;
    };
    const auto writeQueued = [&] {
      try {
        rewriter.flush(
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
            rewriter.rewrite(rewrite.identity, rewrite.from, rewrite.to, &recorder)));
      } catch (const DbError& failure) {
        if (failure.connectionLost() || control_.stopRequested()) throw;
        keepFirst(failure);
        progress.count(RecordOutcome::Reported);
      } catch (const JournalError&) {
        throw RunEnd::JournalFailed;
      }
    };
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
        if (!rewriter.grouped()) return writeOne(rewrite);
        rewriter.queue(rewrite.identity, rewrite.from, rewrite.to);
        if (rewriter.full()) writeQueued();
      });
    } catch (RunEnd stopped) {
      end_ = stopped;
    } catch (const DbError& failure) {
      ended(failure);
    }
    // A stop ends the run at a chunk's end: what is queued is written.
    try {
      if ((end_ == RunEnd::Finished || end_ == RunEnd::Stopped) && rewriter.grouped()) {
        writeQueued();
      }
      goOnUnlessEnded();
    } catch (RunEnd stopped) {
      if (end_ == RunEnd::Finished || stopped == RunEnd::JournalFailed) end_ = stopped;
    } catch (const DbError& failure) {
      ended(failure);
    }
    if (journalFailure.isEmpty()) journalFailure = recorder.failure();
  };
  end_ = RunEnd::Finished;
  RunWhileServingEvents([&] {
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const RunCounts before = progress.counts();
      PartDone& done = partsDone_[i];
      if (end_ == RunEnd::Finished) {
        JournalRecorder recorder(journal_, done.journalId);
        try {
          rewritePart(*rewriterOf(parts[i].target), recorder, parts[i].source);
        } catch (const DbError& failure) {
          firstFailure = QString::fromUtf8(failure.what());
          end_ = failure.connectionLost() ? RunEnd::ConnectionLost : RunEnd::Stopped;
        }
      }
      done.summary = RunSummary{end_, countsSince(progress.counts(), before), 0, description.since};
    }
  });
  control_.watch(nullptr);
  control_.settle();
  summary_ = RunSummary{end_, progress.counts(), clock.elapsed(), description.since};
  if (whole) {
    for (std::size_t i = 0; i < parts.size(); ++i) {
      summary_.parts.push_back({parts[i].name, partsDone_[i].summary.counts});
    }
  }
  if (end_ == RunEnd::JournalFailed) {
    firstFailure = QStringLiteral(
                       "The journal that keeps the old values could not be written (%1), so "
                       "this stopped: the records after it were not touched.")
                       .arg(journalFailure);
  }
  if (!firstFailure.isEmpty()) dialogs_.message(firstFailure);
  for (PartDone& done : partsDone_) {
    EndJournalRun(journal_, done.journalId, done.summary, dialogs_);
    summary_.journalClosed = summary_.journalClosed && done.summary.journalClosed;
  }
  if (wholeId) EndJournalRun(journal_, *wholeId, summary_, dialogs_);
  watcher_.runEnded(summary_);
  return wholeId ? wholeId : std::optional(partsDone_.front().journalId);
}
