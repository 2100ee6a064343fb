#pragma once

#include <QString>
#include <functional>
#include <future>
#include <memory>
#include <optional>

#include "Dialogs.h"
#include "FieldCollection.h"
#include "OperationCatalogue.h"
#include "ReportingProcedure.h"
#include "RunControl.h"
#include "RunProgress.h"
#include "TableBrowser.h"

class ChangePreview;
class Connection;
class Dialogs;
class Journal;
class JournalRecorder;
class RecordSet;
class WindowPointer;

// One run of "Start Removing": the operation named by `operationCaption` applied to the
// selected field of every record of the selected table, each changed value written back,
// then the preview refilled. Reports each failing step with its line and goes on; the
// pointer ends as the default once the run got past the test for a field.
//
// The record loop runs on a thread of its own, shown to `watcher`, while the calling
// thread serves its events; it can be stopped after any record. A lost connection is
// reported once and ends the run.
//
// Each old value goes into `journal` before its record is written; without a journal
// that opens nothing is written.
class FieldUpdateRun {
 public:
  FieldUpdateRun(const BrowserLists& lists, QString operationCaption, QString connectionString,
                 WindowPointer& pointer, Dialogs& dialogs, RunWatcher& watcher, Journal& journal);
  ~FieldUpdateRun();

  void run();
  // As run(), with the same questions and tests, but computing every new value and writing
  // nothing; nothing when the run would not have reached its records.
  std::unique_ptr<ChangePreview> preview();
  // The preview hands its changes to `drain` as it goes, in batches of `entries`, rather
  // than keeping them all (ChangePreview::drainEvery); on the preview's own thread.
  void drainPreviewEvery(qsizetype entries, std::function<void(const ChangePreview&)> drain) {
    asked_.drainEntries = entries;
    asked_.drain = std::move(drain);
  }
  // Ends the run after the current record, cancelling a write that waits on the server.
  // From the calling thread, at any time during run().
  void requestStop();
  // Each record's report goes into the summary, grouped, instead of a box of its own.
  void reportIntoSummary() { asked_.reportIntoSummary = true; }
  // Whether the journal refused the run before anything was written.
  bool journalRefused() const { return ended_.journalRefused; }
  // Why the operation ended before reading any record, when no box said it: an empty
  // answer. Empty otherwise.
  const QString& quietEnd() const { return ended_.quietEnd; }
  // Only the rows where this SQL condition holds are read, changed and shown; empty: every
  // row. Checked before any record is read.
  void setRowCondition(const QString& condition) { asked_.rowCondition = condition; }

 private:
  void openTable();
  bool fieldListMatchesTable();
  bool openRecords();
  std::future<qint64> countAside() const;
  void applyOperation(const CleaningOperation& operation);
  std::optional<Answers> askAnswers(const CleaningOperation& operation);
  PatternQuestion patternQuestion(const CleaningOperation& operation) const;
  void updateRecords(const CleaningOperation& operation, const Answers& answers);
  void computePreview(const CleaningOperation& operation, const Answers& answers);
  RunDescription describe(const CleaningOperation& operation, const Answers& answers) const;
  std::optional<qint64> beginJournalRun(const RunDescription& description);
  void refillPreview();
  int fieldPosition() const;
  QString table() const;

  BrowserLists lists_;
  QString operationCaption_;
  QString connectionString_;
  WindowPointer& pointer_;
  Dialogs& dialogs_;
  RunWatcher& watcher_;
  Journal& journal_;
  ReportingProcedure steps_;

  // The table as the run opened it.
  struct Opened {
    std::unique_ptr<Connection> reads;   // the records stream over it
    std::unique_ptr<Connection> writes;  // writes, and what is asked on the way
    std::optional<FieldCollection> fields;
    std::unique_ptr<RecordSet> records;  // the columns that find a row, and the field
    int field = -1;                      // the field's place in records
    qint64 expectedRecords = 0;          // the server's estimate
    std::future<qint64> exactCount;      // counted aside, for a table small enough
  };
  Opened opened_;
  RunControl control_;
  // How the caller asked for the run.
  struct Asked {
    QString rowCondition;
    bool reportIntoSummary = false;
    bool previewing = false;
    qsizetype drainEntries = 0;
    std::function<void(const ChangePreview&)> drain;
  };
  Asked asked_;
  // How it ended, beyond its summary.
  struct Ended {
    bool connectionLost = false;
    bool journalRefused = false;
    QString quietEnd;
  };
  Ended ended_;
  std::unique_ptr<ChangePreview> preview_;
};
