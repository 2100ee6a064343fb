#pragma once

#include <QByteArrayList>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>

#include "ConnectionString.h"
#include "Journal.h"
#include "RowChange.h"
#include "RowRewriter.h"
#include "RunControl.h"
#include "RunProgress.h"

class Dialogs;
class PartRecorders;
class DbError;

// One value to write into a row found again by its identity, where `from` still stands.
struct Rewrite {
  RowValues identity;
  std::optional<QByteArray> from;
  std::optional<QByteArray> to;
  std::size_t part = 0;  // of a run of parts, whose value it is
};
// Parts of a run, next to each other.
struct PartRange {
  std::size_t first = 0;
  std::size_t count = 1;
  bool holds(std::size_t part) const { return part >= first && part < first + count; }
};
// Told of each rewrite in turn; false when the run ended and wants no more.
using RewriteVisitor = std::function<bool(const Rewrite&)>;
// Hands each rewrite of the parts asked for to the visitor, in order, until it says no more.
using RewriteSource = std::function<void(const PartRange& parts, const RewriteVisitor& visit)>;

// The table, field and row identity that rewrites address.
struct RewriteTarget {
  QString database;
  QString table;
  QByteArrayList identityColumns;
  bool keyed = false;
  QByteArray column;
};

// One field's rewrites within a run of several: its own target, journaled as a part of the
// whole.
struct RewritePart {
  QString name;  // in the summary: "t.v (steps 1, 2)"
  RewriteTarget target;
  JournalRun journaled;
  qint64 total = 0;  // the rewrites its source hands; 0 when not known before they come
};

// How the rewrites of a run of parts come: each part's after the one before's, or row by
// row, each row once with its parts' values next to each other. Parts next to each other
// that write other fields of one keyed table, none of its key, are written together then:
// each row once, with all of its fields.
enum class RewriteOrder { ByPart, ByRow };

// The record loop of an undo and of an applied preview: values written where the
// expected value still stands, in the progress window, on a worker thread, journaled like
// any run, and stoppable as a run is, a write waiting on a lock included. Values changed
// since, and rows gone, are left and counted; a failing record is counted and its reason
// said once at the end.
class RewriteRun {
 public:
  RewriteRun(Journal& journal, ConnectionAttributes login, Dialogs& dialogs, RunWatcher& watcher);

  // The journal's id of the run; nothing when it could not start (the user is told why).
  std::optional<qint64> run(const RewriteTarget& target, JournalRun journaled,
                            const RunDescription& description, qint64 total,
                            const RewriteSource& source);
  // The parts as one run: one progress, one stop, one summary. The journal keeps `whole`,
  // and each part as a run of its own within it. `source` hands every part's rewrites, in
  // `order`. The journal's id of the whole; nothing when it could not start.
  std::optional<qint64> runParts(const std::vector<RewritePart>& parts, const RewriteSource& source,
                                 RewriteOrder order, JournalRun whole,
                                 const RunDescription& description);
  // From the calling thread, at any time during run().
  void requestStop() { control_.requestStop(); }
  // The settings it logs in with.
  const ConnectionAttributes& login() const { return login_; }
  RunEnd end() const { return end_; }
  // What the run did, once it ended.
  const RunSummary& summary() const { return summary_; }
  // Of a run of parts: each part's journal id and what it did, in order.
  struct PartDone {
    qint64 journalId = 0;
    RunSummary summary;
  };
  const std::vector<PartDone>& partsDone() const { return partsDone_; }

 private:
  Journal& journal_;
  ConnectionAttributes login_;
  Dialogs& dialogs_;
  RunWatcher& watcher_;
  RunControl control_;
  RunEnd end_ = RunEnd::Finished;
  RunSummary summary_;
  std::vector<PartDone> partsDone_;

  struct Plan;
  struct Pass;
  std::optional<qint64> runAll(const std::vector<RewritePart>& parts, const RewriteSource& source,
                               RewriteOrder order, std::optional<JournalRun> whole,
                               const RunDescription& description);
  void prepare(Plan& plan, RewriteOrder order, std::optional<JournalRun>& whole);
  RunEnd rewriteSpan(Plan& plan, const PartRange& span, const RewriteSource& source, Pass& pass);
  RunEnd rewriteAll(const PartRange& span, const RewriteSource& source, RowRewriter& rewriter,
                    PartRecorders& recorders, Pass& pass);
  RunEnd endAsked(const PartRecorders& recorders) const;
  RunEnd writeQueued(const PartRange& span, RowRewriter& rewriter, PartRecorders& recorders,
                     Pass& pass, RowRewriter::Flushing flushing);
  RunEnd writeOne(const Rewrite& rewrite, int slot, RowRewriter& rewriter, PartRecorders& recorders,
                  Pass& pass);
  RunEnd endedBy(const DbError& failure, Pass& pass) const;
  void finish(const std::vector<RewritePart>& parts, bool whole, const RunDescription& description,
              Pass& pass, const std::vector<std::optional<RunEnd>>& partEnds, qint64 elapsed);
};
