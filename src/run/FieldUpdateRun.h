#pragma once

#include <QString>
#include <functional>
#include <future>
#include <memory>
#include <optional>

#include "Dialogs.h"
#include "FieldCollection.h"
#include "GroupedWriter.h"
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
    previewDrain_ = {entries, std::move(drain)};
  }
  // Ends the run after the current record, cancelling a write that waits on the server.
  // From the calling thread, at any time during run().
  void requestStop();
  // Each record's report goes into the summary, grouped, instead of a box of its own.
  void reportIntoSummary() { reportIntoSummary_ = true; }
  // Whether the journal refused the run before anything was written.
  bool journalRefused() const { return journalRefused_; }
  // Why the operation ended before reading any record, when no box said it: an empty
  // answer. Empty otherwise.
  const QString& quietEnd() const { return quietEnd_; }
  // Only the rows where this SQL condition holds are read, changed and shown; empty: every
  // row. Checked before any record is read.
  void setRowCondition(const QString& condition) { rowCondition_ = condition; }

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
  RunEnd goThroughRecords(const CleaningOperation& operation, const Answers& answers,
                          Dialogs& dialogs, RunProgress& progress);
  // Nothing for a record whose write waits in the chunk, counted when the chunk is written.
  std::optional<RecordOutcome> updateRecord(ReportingProcedure& steps,
                                            const CleaningOperation& operation,
                                            const Answers& answers, int loopLine, qint64 record);
  RecordOutcome write(RecordSet& records);
  // Writes the chunk of staged records and reports each one not written; the run's end
  // when the chunk ended it.
  std::optional<RunEnd> writeChunk(
      ReportingProcedure& steps, RunProgress& progress, int loopLine,
      GroupedWriter::Flushing flushing = GroupedWriter::Flushing::Everything);
  RunDescription describe(const CleaningOperation& operation, const Answers& answers) const;
  QString reportedSubject(const RowIdentity& identity) const;
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

  std::unique_ptr<Connection> connection_;  // the records stream over it
  std::unique_ptr<Connection> writes_;      // writes, and what is asked on the way
  std::optional<FieldCollection> tableFields_;
  std::unique_ptr<RecordSet> records_;  // the columns that find a row, and the field
  int readField_ = -1;                  // the field's place in records_
  qint64 expectedRecords_ = 0;          // the server's estimate
  std::future<qint64> exactCount_;      // counted aside, for a table small enough
  std::optional<RunEnd> readEnded_;     // the records stopped arriving before their end

  std::unique_ptr<GroupedWriter> grouped_;  // none: each record is written on its own
  std::optional<RunEnd> chunkEnded_;        // a chunk written before a report ended the run
  bool flushing_ = false;

  RunControl control_;
  JournalRecorder* recorder_ = nullptr;  // while the record loop runs
  qint64 lastWrittenRecord_ = 0;         // 1-based; 0 before the first write
  // The record that a report is about, 0-based, and, when it is not the record set's
  // current one (a row of a chunk), its row as queued, its key first: unpacked only when a
  // report names it.
  struct Reported {
    qint64 record = 0;
    std::optional<QByteArray> queuedRow;
  };
  Reported reported_;
  CollectedReports collected_;
  bool connectionLost_ = false;
  bool journalRefused_ = false;
  QString quietEnd_;
  QString rowCondition_;
  bool reportIntoSummary_ = false;
  bool previewing_ = false;
  std::unique_ptr<ChangePreview> preview_;
  struct {
    qsizetype entries = 0;
    std::function<void(const ChangePreview&)> drain;
  } previewDrain_;
};
