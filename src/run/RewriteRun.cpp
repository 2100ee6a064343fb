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

RewriteRun::RewriteRun(Journal& journal, ConnectionAttributes login, Dialogs& dialogs,
                       RunWatcher& watcher)
    : journal_(journal), login_(std::move(login)), dialogs_(dialogs), watcher_(watcher) {}

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

// How the parts are written: in spans of parts written together, each by a rewriter made as
// it begins (the chunk table on the session is its own); a run of one span goes on with the
// rewriter made to check it.
struct RewriteRun::Plan {
  const std::vector<RewritePart>& parts;
  Connection& connection;
  std::vector<PartRange> spans;
  std::unique_ptr<RowRewriter> made;
  qint64 total = 0;
  RunDescription shown;
  std::optional<qint64> wholeId;

  std::unique_ptr<RowRewriter> rewriterOf(const PartRange& span) const {
    const RewriteTarget& target = parts[span.first].target;
    QByteArrayList columns;
    for (std::size_t i = span.first; i < span.first + span.count; ++i) {
      columns << parts[i].target.column;
    }
    return std::make_unique<RowRewriter>(connection, target.database, target.table,
                                         target.identityColumns, target.keyed, columns);
  }
};

// The counts of a run under way, of the whole and of each part, and what it says at its end.
struct RewriteRun::Pass {
  explicit Pass(const std::vector<RewritePart>& parts, qint64 total)
      : parts(parts), total(total), progress(total), partHanded(parts.size(), 0) {
    for (const RewritePart& part : parts)
      partProgress.push_back(std::make_unique<RunProgress>(part.total));
  }
  void count(std::size_t part, RecordOutcome outcome) {
    progress.count(outcome);
    partProgress[part]->count(outcome);
  }
  // A source that hands more than its parts' totals (a recipe streamed as it is read, whose
  // totals are not known) has its totals grow with what it has handed.
  void hand(std::size_t part) {
    if (++handed > total) progress.setTotal(handed);
    if (++partHanded[part] > parts[part].total) partProgress[part]->setTotal(partHanded[part]);
  }
  // Said once at the end: one box per record would bury the user.
  void keepFirst(const DbError& failure) {
    if (firstFailure.isEmpty()) firstFailure = QString::fromUtf8(failure.what());
  }

  const std::vector<RewritePart>& parts;
  const qint64 total;
  RunProgress progress;
  std::vector<std::unique_ptr<RunProgress>> partProgress;
  qint64 handed = 0;
  std::vector<qint64> partHanded;
  QString firstFailure, journalFailure;
};

std::optional<qint64> RewriteRun::runAll(const std::vector<RewritePart>& parts,
                                         const RewriteSource& source, RewriteOrder order,
                                         std::optional<JournalRun> whole,
                                         const RunDescription& description) {
  if (parts.empty()) return std::nullopt;
  Connection connection;
  Plan plan{parts, connection, {}, nullptr, 0, description, std::nullopt};
  partsDone_.clear();
  try {
    prepare(plan, order, whole);
  } catch (const std::exception& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
    return std::nullopt;
  }
  Pass pass(parts, plan.total);
  control_.watch(&connection);
  watcher_.runStarted(plan.shown, pass.progress, [this] { requestStop(); });
  QElapsedTimer clock;
  clock.start();
  end_ = RunEnd::Finished;
  // How each part ended: as the run did when the part was done, or was never begun.
  std::vector<std::optional<RunEnd>> partEnds(parts.size());
  RunWhileServingEvents([&] {
    for (const PartRange& span : plan.spans) {
      if (end_ != RunEnd::Finished) break;
      end_ = rewriteSpan(plan, span, source, pass);
      for (std::size_t i = span.first; i < span.first + span.count; ++i) partEnds[i] = end_;
    }
  });
  control_.watch(nullptr);
  control_.settle();
  finish(parts, whole.has_value(), description, pass, partEnds, clock.elapsed());
  if (plan.wholeId) EndJournalRun(journal_, *plan.wholeId, summary_, dialogs_);
  summary_.journalRun = plan.wholeId.value_or(partsDone_.front().journalId);
  watcher_.runEnded(summary_);
  return plan.wholeId ? plan.wholeId : std::optional(partsDone_.front().journalId);
}

// Connects, checks that every part can find its rows (or none is written), and begins the
// journal's runs. Throws what went wrong.
void RewriteRun::prepare(Plan& plan, RewriteOrder order, std::optional<JournalRun>& whole) {
  Connection& connection = plan.connection;
  connection.CommandTimeout = RewriteTimeoutSeconds;
  connection.LockTimeout = RunControl::LockWaitSeconds;
  connection.Open(login_);
  for (const PartRange& span : togetherOf(plan.parts, order)) {
    plan.made = plan.rewriterOf(span);
    if (span.first == 0 && plan.made->grouped()) {
      plan.shown.stopping = StoppingAfterChunk(plan.made->chunkRows());
    }
    if (span.count > 1 && !plan.made->grouped()) {
      // Fields that cannot be written in chunks together are written one after another.
      for (std::size_t i = span.first; i < span.first + span.count; ++i) {
        plan.made = plan.rewriterOf({i, 1});
        plan.spans.push_back({i, 1});
      }
    } else {
      plan.spans.push_back(span);
    }
  }
  if (plan.spans.size() > 1) plan.made.reset();  // each span makes its own as it begins
  for (const RewritePart& part : plan.parts) plan.total += part.total;
  const QString cluster = ClusterOf(&connection);
  if (whole) {
    whole->cluster = cluster;
    plan.wholeId = journal_.beginRun(*whole);
  }
  for (const RewritePart& part : plan.parts) {
    JournalRun journaled = part.journaled;
    journaled.cluster = cluster;
    journaled.partOf = plan.wholeId.value_or(0);
    partsDone_.push_back({journal_.beginRun(journaled), {}});
  }
}

// Writes the rewrites of one span of parts, journaled by recorders of its own; how the run
// stands after it.
RunEnd RewriteRun::rewriteSpan(Plan& plan, const PartRange& span, const RewriteSource& source,
                               Pass& pass) {
  std::vector<std::pair<QByteArray, qint64>> runs;
  for (std::size_t i = span.first; i < span.first + span.count; ++i) {
    runs.emplace_back(plan.parts[i].target.column, partsDone_[i].journalId);
  }
  PartRecorders recorders(journal_, runs);
  std::unique_ptr<RowRewriter> made = std::move(plan.made);
  try {
    if (!made) made = plan.rewriterOf(span);
  } catch (const DbError& failure) {
    return endedBy(failure, pass);
  }
  RowRewriter& rewriter = *made;
  // A chunk still under way tells the recorders, whatever ends the span.
  const auto underWayEnded = qScopeGuard([&] { made.reset(); });
  RunEnd end = RunEnd::Finished;
  try {
    end = rewriteAll(span, source, rewriter, recorders, pass);
  } catch (const DbError& failure) {
    end = endedBy(failure, pass);
  }
  // A stop ends the run at a chunk's end: that of the chunk under way, told now, else that
  // of the rewrites queued, written now. Any other end only tells the chunk under way.
  try {
    if (rewriter.grouped()) {
      const RunEnd written = writeQueued(span, rewriter, recorders, pass,
                                         end == RunEnd::Finished || end == RunEnd::Stopped
                                             ? RowRewriter::Flushing::Everything
                                             : RowRewriter::Flushing::UnderWayOnly);
      if (end == RunEnd::Finished || written == RunEnd::JournalFailed) end = written;
    }
    const RunEnd after = endAsked(recorders);
    if (end == RunEnd::Finished || after == RunEnd::JournalFailed) end = after;
  } catch (const DbError& failure) {
    end = endedBy(failure, pass);
  }
  if (pass.journalFailure.isEmpty()) pass.journalFailure = recorders.failure();
  return end;
}

// Hands each rewrite of the span to the rewriter, queued or on its own, until the source
// ends or the run does. A lost link is thrown.
RunEnd RewriteRun::rewriteAll(const PartRange& span, const RewriteSource& source,
                              RowRewriter& rewriter, PartRecorders& recorders, Pass& pass) {
  RunEnd end = RunEnd::Finished;
  source(span, [&](const Rewrite& rewrite) {
    if (!span.holds(rewrite.part)) return true;
    end = endAsked(recorders);
    if (end != RunEnd::Finished) return false;
    pass.hand(rewrite.part);
    const int slot = int(rewrite.part - span.first);
    if (!rewriter.grouped()) {
      end = writeOne(rewrite, slot, rewriter, recorders, pass);
    } else {
      rewriter.queue(rewrite.identity, rewrite.from, rewrite.to, slot);
      if (rewriter.full()) {
        end = writeQueued(span, rewriter, recorders, pass, RowRewriter::Flushing::MayLeaveUnderWay);
      }
    }
    return end == RunEnd::Finished;
  });
  return end;
}

// A stop asked for, or a journal that failed, ends the run before the next rewrite.
RunEnd RewriteRun::endAsked(const PartRecorders& recorders) const {
  if (recorders.failed()) return RunEnd::JournalFailed;
  if (control_.stopRequested()) return RunEnd::Stopped;
  return RunEnd::Finished;
}

RunEnd RewriteRun::writeQueued(const PartRange& span, RowRewriter& rewriter,
                               PartRecorders& recorders, Pass& pass,
                               RowRewriter::Flushing flushing) {
  try {
    rewriter.flush(
        &recorders,
        [&](int slot, RowRewriter::Outcome outcome, const DbError* why) {
          if (why) pass.keepFirst(*why);
          pass.count(span.first + std::size_t(slot), RecordOutcomeOf(outcome));
          return !control_.stopRequested();
        },
        &control_.writing(), flushing);
  } catch (const JournalError&) {
    return RunEnd::JournalFailed;
  }
  return RunEnd::Finished;
}

RunEnd RewriteRun::writeOne(const Rewrite& rewrite, int slot, RowRewriter& rewriter,
                            PartRecorders& recorders, Pass& pass) {
  control_.writing() = true;
  const auto done = qScopeGuard([this] { control_.writing() = false; });
  try {
    pass.count(rewrite.part, RecordOutcomeOf(rewriter.rewrite(rewrite.identity, rewrite.from,
                                                              rewrite.to, &recorders, slot)));
  } catch (const DbError& failure) {
    if (failure.connectionLost() || control_.stopRequested()) throw;
    pass.keepFirst(failure);
    pass.count(rewrite.part, RecordOutcome::Reported);
  } catch (const JournalError&) {
    return RunEnd::JournalFailed;
  }
  return RunEnd::Finished;
}

// How a failure that left the loop ends the run: a stop that ended the statement under way
// is a stop; anything else is said.
RunEnd RewriteRun::endedBy(const DbError& failure, Pass& pass) const {
  if (control_.stopRequested() && (failure.connectionLost() || failure.interrupted())) {
    return RunEnd::Stopped;
  }
  pass.firstFailure = QString::fromUtf8(failure.what());
  return failure.connectionLost() ? RunEnd::ConnectionLost : RunEnd::Stopped;
}

// The summaries of the parts and of the whole, said and kept in the journal.
void RewriteRun::finish(const std::vector<RewritePart>& parts, bool whole,
                        const RunDescription& description, Pass& pass,
                        const std::vector<std::optional<RunEnd>>& partEnds, qint64 elapsed) {
  for (std::size_t i = 0; i < parts.size(); ++i) {
    RunCounts counts = pass.partProgress[i]->counts();
    counts.total = counts.done;  // a part's summary counts what it went through
    partsDone_[i].summary = RunSummary{partEnds[i].value_or(end_), counts, 0, description.since};
  }
  summary_ = RunSummary{end_, pass.progress.counts(), elapsed, description.since};
  if (whole) {
    for (std::size_t i = 0; i < parts.size(); ++i) {
      summary_.parts.push_back({parts[i].name, partsDone_[i].summary.counts});
    }
  }
  if (end_ == RunEnd::JournalFailed) {
    pass.firstFailure = QStringLiteral(
                            "The journal that keeps the old values could not be written (%1), "
                            "so this stopped: the records after it were not touched.")
                            .arg(pass.journalFailure);
  }
  if (!pass.firstFailure.isEmpty()) dialogs_.message(pass.firstFailure);
  for (PartDone& done : partsDone_) {
    EndJournalRun(journal_, done.journalId, done.summary, dialogs_);
    summary_.journalClosed = summary_.journalClosed && done.summary.journalClosed;
  }
}
