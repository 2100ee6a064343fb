#pragma once

#include <QByteArray>
#include <memory>
#include <optional>

#include "GroupedWriter.h"
#include "OperationCatalogue.h"
#include "RunProgress.h"

// The location tag that "Start Removing"'s error reports show, as users and support know it.
inline const QString StartRemovingTag =
    QStringLiteral("Klarifeld2021/08/31.Form2.PushButton2_Click");

class Dialogs;
class JournalRecorder;
class RecordSet;
class ReportingProcedure;
class RunControl;
struct RowIdentity;

// The record loop of a run, on the worker thread: each record's new value, written on its
// own or staged for a chunk of grouped writes, each failure reported with its record's
// place and key, until the records end or the run does. The records and their connection
// are the loop's own while it runs.
class RecordLoop {
 public:
  // `grouped`, when given, writes the records in chunks; `field` is the field's place in
  // `records`.
  RecordLoop(RecordSet& records, int field, std::unique_ptr<GroupedWriter> grouped,
             RunControl& control, JournalRecorder& recorder);
  // A chunk still under way tells the recorder before the loop ends.
  ~RecordLoop();

  // Each record's report goes into the summary, grouped, instead of a box of its own.
  void reportIntoSummary() { reportIntoSummary_ = true; }
  RunEnd run(const CleaningOperation& operation, const Answers& answers, Dialogs& dialogs,
             RunProgress& progress);
  // 1-based; 0 before the first write.
  qint64 lastWrittenRecord() const { return lastWrittenRecord_; }
  const CollectedReports& collected() const { return collected_; }

 private:
  class ReportsAfterStaged;
  // Nothing for a record whose write waits in the chunk, counted when the chunk is written.
  std::optional<RecordOutcome> updateRecord(ReportingProcedure& steps,
                                            const CleaningOperation& operation,
                                            const Answers& answers, int loopLine, qint64 record);
  RecordOutcome write();
  // Writes the chunk of staged records and reports each one not written; the run's end
  // when the chunk ended it.
  std::optional<RunEnd> writeChunk(
      ReportingProcedure& steps, RunProgress& progress, int loopLine,
      GroupedWriter::Flushing flushing = GroupedWriter::Flushing::Everything);
  QString reportedSubject(const RowIdentity& identity) const;

  RecordSet& records_;
  const int field_;
  std::unique_ptr<GroupedWriter> grouped_;  // none: each record is written on its own
  RunControl& control_;
  JournalRecorder& recorder_;
  bool reportIntoSummary_ = false;
  std::optional<RunEnd> chunkEnded_;  // a chunk written before a report ended the run
  std::optional<RunEnd> readEnded_;   // the records stopped arriving before their end
  bool flushing_ = false;
  qint64 lastWrittenRecord_ = 0;
  // The record that a report is about, 0-based, and, when it is not the record set's
  // current one (a row of a chunk), its row as queued, its key first: unpacked only when a
  // report names it.
  struct Reported {
    qint64 record = 0;
    std::optional<QByteArray> queuedRow;
  };
  Reported reported_;
  CollectedReports collected_;
};
