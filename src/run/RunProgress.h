#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <vector>

#include "RowChange.h"

// What a run does to each record it goes through.
enum class RecordOutcome {
  Written,
  Unchanged,    // the same value, a null, or nothing to write
  Reported,     // its new value could not be computed or written; a report said why
  InDoubt,      // the link broke while its write was on its way
  Interrupted,  // its write was cancelled when the user stopped the run: not written
  // An undo's record that another changed after the run, or whose row is gone: left.
  ChangedSince,
  Gone,
};

// How a record whose write ended so counts: a write that found no row as read, or was
// refused, is reported.
RecordOutcome RecordOutcomeOf(WriteOutcome written);

struct RunCounts {
  qint64 total = 0;
  qint64 done = 0;  // records gone through; an interrupted one is not done
  qint64 written = 0;
  qint64 unchanged = 0;
  qint64 reported = 0;
  qint64 inDoubt = 0;
  qint64 changedSince = 0;
  qint64 gone = 0;
};

enum class RunEnd { Finished, Stopped, ConnectionLost, JournalFailed };

// Reports of one kind that the user asked to have in the summary rather than in boxes.
struct ReportGroup {
  QString description;
  qint64 count = 0;
  QStringList firstSubjects;  // what the first few were about: "Record 12 (id = 5)."
};

// The reports collected during a run, grouped by what they say, in the order first seen.
class CollectedReports {
 public:
  void add(const QString& description, const QString& subject);
  const std::vector<ReportGroup>& groups() const { return groups_; }

 private:
  std::vector<ReportGroup> groups_;
};

// What values "changed since" were read at: "the run" for an undo, "the preview" for an
// applied preview.
inline const QString SinceTheRun = QStringLiteral("the run");

struct RunSummary {
  RunEnd end = RunEnd::Finished;
  RunCounts counts;
  qint64 milliseconds = 0;
  QString since = SinceTheRun;
  bool journalClosed = true;  // false: the journal could not record the run's end
  std::vector<ReportGroup> collected = {};
  // Of a run in parts (a recipe's fields): what each did, by the part's name.
  struct Part {
    QString name;
    RunCounts counts;
  };
  std::vector<Part> parts = {};
  qint64 journalRun = 0;  // its number in the journal; 0: none
  // Whether the journal holds something of it to take back.
  bool undoable() const { return journalRun && counts.written + counts.inDoubt > 0; }
};

struct RunDescription {
  QString table;
  QString field;
  QString operation;
  QStringList answers = {};
  QString rows = {};  // the row condition; empty: every row
  QString since = SinceTheRun;
  QString note = {};  // said once beside the progress: how the run writes, when that is slow
  // What Stop does: a run that writes in chunks stops at the end of one
  // (StoppingAfterChunk).
  QString stopping = QStringLiteral("Stopping after the current record…");
};

// The counts of a run's record loop as it goes: written by the loop's thread, read by any.
class RunProgress {
 public:
  explicit RunProgress(qint64 total) : total_(total) {}

  void count(RecordOutcome outcome);
  RunCounts counts() const;
  // The number of records, once it is known better than at the start (an estimate then).
  void setTotal(qint64 total) { total_.store(total, std::memory_order_relaxed); }

 private:
  std::atomic<qint64> total_;
  std::atomic<qint64> written_ = 0, unchanged_ = 0, reported_ = 0, inDoubt_ = 0, changedSince_ = 0,
                      gone_ = 0;
};

// Whoever shows a run: the progress window, or a terminal.
class RunWatcher {
 public:
  virtual ~RunWatcher() = default;
  // The record loop begins. `progress` stays valid until runEnded returns; `stop` asks
  // the run to end after the current record, and may be called from this thread only.
  virtual void runStarted(const RunDescription& run, const RunProgress& progress,
                          std::function<void()> stop) = 0;
  virtual void runEnded(const RunSummary& summary) = 0;
};

// "1,234,567": counts as the windows show them.
QString CountText(qint64 count);
// What Stop says of a run that writes chunks of up to `rows` records.
QString StoppingAfterChunk(int rows);
// "1 record", "2,000 records".
QString CountedText(qint64 count, const QString& one, const QString& many);
// The text with each number's unit held to it ("2 s", "3 min") by a no-break space, so
// that a wrapping label does not part them.
QString WithUnitsKept(QString text);
// "1 min 27 s", "3 h 2 min", "0 s".
QString DurationText(qint64 milliseconds);
// "41,200 of 1,000,000 records: 20,600 written, 20,600 unchanged, 0 reported".
QString ProgressText(const RunCounts& counts, const QString& since = SinceTheRun);
// "12,000 records a second, about 1 min 3 s left"; "Starting…" before the first record.
QString RateText(const RunCounts& counts, qint64 milliseconds);
// Answers as typed, blanks and all, each between quotes: "\" \", \"_\"".
QString QuotedAnswers(const QStringList& answers);
// What a run did, in one sentence or two.
QString SummaryText(const RunSummary& summary);
