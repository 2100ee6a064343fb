#pragma once

#include <QString>
#include <map>
#include <memory>

#include "ChangePreview.h"
#include "RewriteRun.h"

class ChangePreview;
class Dialogs;
class Journal;

// Takes a journaled run back: each old value is written where the run's value still
// stands, in the progress window, and the undo is journaled like any run, so that it
// can be taken back too. Values changed since the run, and rows gone, are left and
// counted. Like a run, its record loop runs on a worker thread and can be stopped.
class UndoRun {
 public:
  UndoRun(Journal& journal, qint64 runId, ConnectionAttributes login, Dialogs& dialogs,
          RunWatcher& watcher);

  void run();
  // What run() would write, each old value where the run's value still stands, written by
  // nothing: a preview for each field the run wrote; none when the run is refused (the
  // user is told why). `setUp`, when given, is shown each preview before it fills; what
  // stays kept is handed to its drain at the end.
  ChangePreviews preview(const PreviewSetup& setUp = nullptr);
  // From the calling thread, at any time during run().
  void requestStop() { rewrites_.requestStop(); }

 private:
  bool refusesTheRun();
  bool sameCluster(const JournalRun& run) const;
  RunDescription description(const JournalRun& undone) const;
  // The runs that wrote values: the run itself, or the parts of a recipe's run.
  std::vector<JournalRun> writers(const JournalRun& undone) const;
  void markTakenBack(const JournalRun& undone, qint64 undo, const RunSummary& summary);
  void tellDamaged();

  Journal& journal_;
  qint64 runId_;
  ConnectionAttributes login_;
  Dialogs& dialogs_;
  RewriteRun rewrites_;
  std::map<qint64, qint64> damaged_;  // by run or part: its entries that could not be read
};
