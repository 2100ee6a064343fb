#pragma once

#include <QString>
#include <memory>

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
  UndoRun(Journal& journal, qint64 runId, QString connectionString, Dialogs& dialogs,
          RunWatcher& watcher);

  void run();
  // What run() would write, each old value where the run's value still stands, written by
  // nothing; nothing when the run is refused (the user is told why).
  std::unique_ptr<ChangePreview> preview();
  // From the calling thread, at any time during run().
  void requestStop() { rewrites_.requestStop(); }

 private:
  bool refusesTheRun();
  bool sameCluster(const JournalRun& run) const;
  RunDescription description(const JournalRun& undone) const;

  Journal& journal_;
  qint64 runId_;
  QString connectionString_;
  Dialogs& dialogs_;
  RewriteRun rewrites_;
};
