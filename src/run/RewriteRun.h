#pragma once

#include <QByteArrayList>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>

#include "Journal.h"
#include "RowChange.h"
#include "RunControl.h"
#include "RunProgress.h"

class Dialogs;

// One value to write into a row found again by its identity, where `from` still stands.
struct Rewrite {
  RowValues identity;
  std::optional<QByteArray> from;
  std::optional<QByteArray> to;
};
// Hands each rewrite to the visitor, in order.
using RewriteSource = std::function<void(const std::function<void(const Rewrite&)>& visit)>;

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
  qint64 total = 0;
  RewriteSource source;
};

// The record loop of an undo and of an applied preview: values written where the
// expected value still stands, in the progress window, on a worker thread, journaled like
// any run, and stoppable as a run is, a write waiting on a lock included. Values changed
// since, and rows gone, are left and counted; a failing record is counted and its reason
// said once at the end.
class RewriteRun {
 public:
  RewriteRun(Journal& journal, QString connectionString, Dialogs& dialogs, RunWatcher& watcher);

  // The journal's id of the run; nothing when it could not start (the user is told why).
  std::optional<qint64> run(const RewriteTarget& target, JournalRun journaled,
                            const RunDescription& description, qint64 total,
                            const RewriteSource& source);
  // The parts one after the other as one run: one progress, one stop, one summary. The
  // journal keeps `whole`, and each part as a run of its own within it. The journal's id
  // of the whole; nothing when it could not start.
  std::optional<qint64> runParts(const std::vector<RewritePart>& parts, JournalRun whole,
                                 const RunDescription& description);
  // From the calling thread, at any time during run().
  void requestStop() { control_.requestStop(); }
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
  QString connectionString_;
  Dialogs& dialogs_;
  RunWatcher& watcher_;
  RunControl control_;
  RunEnd end_ = RunEnd::Finished;
  RunSummary summary_;
  std::vector<PartDone> partsDone_;

  std::optional<qint64> runAll(const std::vector<RewritePart>& parts,
                               std::optional<JournalRun> whole, const RunDescription& description);
};
