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
  const std::optional<qint64> id = runAll({RewritePart{{}, target, std::move(journaled), total}},
                                          source, RewriteOrder::ByPart, std::nullopt, description);
  return id && !partsDone_.empty() ? std::optional(partsDone_.front().journalId) : std::nullopt;
}

std::optional<qint64> RewriteRun::runParts(const std::vector<RewritePart>& parts,
                                           const RewriteSource& source, RewriteOrder order,
                                           JournalRun whole, const RunDescription& description) {
  return runAll(parts, source, order, std::move(whole), description);
}

namespace {

bool sameRows(const RewriteTarget& one, const RewriteTarget& other) {
  return one.database == other.database && one.table == other.table &&
         one.identityColumns == other.identityColumns && one.keyed == other.keyed;
}

// The parts that may be written together: of rewrites row by row, neighbours that write
// other fields of one keyed table, none of them a column that finds its rows.
std::vector<PartRange> togetherOf(const std::vector<RewritePart>& parts, RewriteOrder order) {
  const auto alone = [](const RewriteTarget& target) {
    return !target.keyed || target.identityColumns.contains(target.column);
  };
  std::vector<PartRange> spans;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const RewriteTarget& target = parts[i].target;
    const auto joins = [&](const PartRange& span) {
      if (order != RewriteOrder::ByRow || alone(target)) return false;
      for (std::size_t j = span.first; j < span.first + span.count; ++j) {
        const RewriteTarget& other = parts[j].target;
        if (alone(other) || !sameRows(other, target) || other.column == target.column) {
          return false;
        }
      }
      return true;
    };
    if (!spans.empty() && joins(spans.back())) {
      ++spans.back().count;
    } else {
      spans.push_back({i, 1});
    }
  }
  return spans;
}

}  // namespace

std::optional<qint64> RewriteRun::runAll(const std::vector<RewritePart>& parts,
                                         const RewriteSource& source, RewriteOrder order,
                                         std::optional<JournalRun> whole,
                                         const RunDescription& description) {
  if (parts.empty()) return std::nullopt;
  Connection connection;
  // A rewriter is made as its parts begin: the chunk table on the session is its own.
  const auto rewriterOf = [&](const PartRange& span) {
    const RewriteTarget& target = parts[span.first].target;
    QByteArrayList columns;
    for (std::size_t i = span.first; i < span.first + span.count; ++i) {
      columns << parts[i].target.column;
    }
    return std::make_unique<RowRewriter>(connection, target.database, target.table,
                                         target.identityColumns, target.keyed, columns);
  };
  std::optional<qint64> wholeId;
  partsDone_.clear();
  std::vector<PartRange> spans;
  // The last rewriter made; a run of one span goes on with it rather than make it again.
  std::unique_ptr<RowRewriter> made;
  qint64 total = 0;
  RunDescription shown = description;
  try {
    connection.CommandTimeout = RewriteTimeoutSeconds;
    connection.LockTimeout = RunControl::LockWaitSeconds;
    connection.Open(connectionString_);
    // Every part can find its rows, or none is written.
    for (const PartRange& span : togetherOf(parts, order)) {
      made = rewriterOf(span);
      if (span.first == 0 && made->grouped()) {
        shown.stopping = StoppingAfterChunk(made->chunkRows());
      }
      if (span.count > 1 && !made->grouped()) {
        // Fields that cannot be written in chunks together are written one after another.
        for (std::size_t i = span.first; i < span.first + span.count; ++i) {
          made = rewriterOf({i, 1});
          spans.push_back({i, 1});
        }
      } else {
        spans.push_back(span);
      }
    }
    if (spans.size() > 1) made.reset();  // each span makes its own as it begins
    for (const RewritePart& part : parts) total += part.total;
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
  std::vector<std::unique_ptr<RunProgress>> partProgress;
  for (const RewritePart& part : parts)
    partProgress.push_back(std::make_unique<RunProgress>(part.total));
  const auto count = [&](std::size_t part, RecordOutcome outcome) {
    progress.count(outcome);
    partProgress[part]->count(outcome);
  };
  // A source that hands more than its parts' totals (a recipe streamed as it is read, whose
  // totals are not known) has its totals grow with what it has handed.
  qint64 handed = 0;
  std::vector<qint64> partHanded(parts.size(), 0);
  const auto hand = [&](std::size_t part) {
    if (++handed > total) progress.setTotal(handed);
    if (++partHanded[part] > parts[part].total) partProgress[part]->setTotal(partHanded[part]);
  };
  control_.watch(&connection);
  watcher_.runStarted(shown, progress, [this] { requestStop(); });
  QElapsedTimer clock;
  clock.start();
  QString firstFailure, journalFailure;
  // Said once at the end: one box per record would bury the user.
  const auto keepFirst = [&](const DbError& failure) {
    if (firstFailure.isEmpty()) firstFailure = QString::fromUtf8(failure.what());
  };
  const auto rewriteSpan = [&](const PartRange& span, RowRewriter& rewriter,
                               PartRecorders& recorders) {
    // A stop, a lost link or a failed journal ends the loop by what it throws.
    const auto goOnUnlessEnded = [&] {
      if (recorders.failed()) throw RunEnd::JournalFailed;
      if (control_.stopRequested()) throw RunEnd::Stopped;
    };
    const auto writeQueued = [&](RowRewriter::Flushing flushing) {
      try {
        rewriter.flush(
            &recorders,
            [&](int slot, RowRewriter::Outcome outcome, const DbError* why) {
              if (why) keepFirst(*why);
              count(span.first + std::size_t(slot), RecordOutcomeOf(outcome));
              return !control_.stopRequested();
            },
            &control_.writing(), flushing);
      } catch (const JournalError&) {
        throw RunEnd::JournalFailed;
      }
    };
    const auto writeOne = [&](const Rewrite& rewrite, int slot) {
      control_.writing() = true;
      const auto done = qScopeGuard([this] { control_.writing() = false; });
      try {
        count(rewrite.part, RecordOutcomeOf(rewriter.rewrite(rewrite.identity, rewrite.from,
                                                             rewrite.to, &recorders, slot)));
      } catch (const DbError& failure) {
        if (failure.connectionLost() || control_.stopRequested()) throw;
        keepFirst(failure);
        count(rewrite.part, RecordOutcome::Reported);
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
      source(span, [&](const Rewrite& rewrite) {
        if (!span.holds(rewrite.part)) return;
        goOnUnlessEnded();
        hand(rewrite.part);
        const int slot = int(rewrite.part - span.first);
        if (!rewriter.grouped()) return writeOne(rewrite, slot);
        rewriter.queue(rewrite.identity, rewrite.from, rewrite.to, slot);
        if (rewriter.full()) writeQueued(RowRewriter::Flushing::MayLeaveUnderWay);
      });
    } catch (RunEnd stopped) {
      end_ = stopped;
    } catch (const DbError& failure) {
      ended(failure);
    }
    // A stop ends the run at a chunk's end: that of the chunk under way, told now, else that
    // of the rewrites queued, written now. Any other end only tells the chunk under way.
    try {
      if (rewriter.grouped()) {
        writeQueued(end_ == RunEnd::Finished || end_ == RunEnd::Stopped
                        ? RowRewriter::Flushing::Everything
                        : RowRewriter::Flushing::UnderWayOnly);
      }
      goOnUnlessEnded();
    } catch (RunEnd stopped) {
      if (end_ == RunEnd::Finished || stopped == RunEnd::JournalFailed) end_ = stopped;
    } catch (const DbError& failure) {
      ended(failure);
    }
    if (journalFailure.isEmpty()) journalFailure = recorders.failure();
  };
  end_ = RunEnd::Finished;
  // How each part ended: as the run did when the part was done, or was never begun.
  std::vector<std::optional<RunEnd>> partEnds(parts.size());
  RunWhileServingEvents([&] {
    for (const PartRange& span : spans) {
      if (end_ != RunEnd::Finished) break;
      std::vector<std::pair<QByteArray, qint64>> runs;
      for (std::size_t i = span.first; i < span.first + span.count; ++i) {
        runs.emplace_back(parts[i].target.column, partsDone_[i].journalId);
      }
      PartRecorders recorders(journal_, runs);
      // A chunk still under way tells the recorders, whatever ends the span.
      const auto underWayEnded = qScopeGuard([&] {
        if (spans.size() == 1) made.reset();
      });
      try {
        rewriteSpan(span, spans.size() == 1 ? *made : *rewriterOf(span), recorders);
      } catch (const DbError& failure) {
        firstFailure = QString::fromUtf8(failure.what());
        end_ = failure.connectionLost() ? RunEnd::ConnectionLost : RunEnd::Stopped;
      }
      for (std::size_t i = span.first; i < span.first + span.count; ++i) partEnds[i] = end_;
    }
  });
  for (std::size_t i = 0; i < parts.size(); ++i) {
    RunCounts counts = partProgress[i]->counts();
    counts.total = counts.done;  // a part's summary counts what it went through
    partsDone_[i].summary = RunSummary{partEnds[i].value_or(end_), counts, 0, description.since};
  }
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
  summary_.journalRun = wholeId.value_or(partsDone_.front().journalId);
  watcher_.runEnded(summary_);
  return wholeId ? wholeId : std::optional(partsDone_.front().journalId);
}
