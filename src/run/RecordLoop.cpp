#include "RecordLoop.h"

#include <QScopeGuard>
#include <algorithm>

#include "ChangeRule.h"
#include "DbError.h"
#include "Dialogs.h"
#include "Journal.h"
#include "NumberText.h"
#include "RecordSet.h"
#include "RegexReplace.h"
#include "ReportingProcedure.h"
#include "RunControl.h"

// A record's report waits while records before it are staged for a chunk: the loop writes
// the chunk, whose reports come first, and then shows it. Nothing is written from inside
// a box.
class RecordLoop::ReportsAfterStaged : public Dialogs {
 public:
  ReportsAfterStaged(Dialogs& shown, std::function<bool()> staged, RunControl& control,
                     std::function<void()> reportRest)
      : shown_(shown),
        staged_(std::move(staged)),
        control_(control),
        reportRest_(std::move(reportRest)) {
    setApplicationTitle(shown.applicationTitle());
  }
  void showMessage(const QString& text, const QString& title, BoxIcon icon) override {
    showMessageOfferingStop(text, title, icon);
  }
  ReportAnswer showMessageOfferingStop(const QString& text, const QString& title,
                                       BoxIcon icon) override {
    if (staged_()) {
      waiting_.push_back({text, title, icon});
      return ReportAnswer::Ok;
    }
    return shown_.showMessageOfferingStop(text, title, icon);
  }
  QString askInput(const QString& prompt, const QString& title) override {
    return shown_.askInput(prompt, title);
  }
  bool askYesNo(const QString& question) override { return shown_.askYesNo(question); }
  QString chooseFile(const QString& title, const QString& filter) override {
    return shown_.chooseFile(title, filter);
  }
  QString chooseNewFile(const QString& title, const QString& filter) override {
    return shown_.chooseNewFile(title, filter);
  }

  bool waiting() const { return !waiting_.empty(); }
  // Shows the reports that waited, answered as any report is.
  void showWaiting() {
    for (const Box& box : std::exchange(waiting_, {})) {
      switch (shown_.showMessageOfferingStop(box.text, box.title, box.icon)) {
        case ReportAnswer::StopRun:
          control_.requestStop();
          break;
        case ReportAnswer::ReportRest:
          reportRest_();
          break;
        case ReportAnswer::Ok:
          break;
      }
    }
  }

 private:
  struct Box {
    QString text, title;
    BoxIcon icon;
  };
  Dialogs& shown_;
  std::function<bool()> staged_;
  RunControl& control_;
  std::function<void()> reportRest_;
  std::vector<Box> waiting_;
};

RecordLoop::RecordLoop(RecordSet& records, int field, std::unique_ptr<GroupedWriter> grouped,
                       RunControl& control, JournalRecorder& recorder)
    : records_(records),
      field_(field),
      grouped_(std::move(grouped)),
      control_(control),
      recorder_(recorder) {}

RecordLoop::~RecordLoop() {
  grouped_.reset();
}

RunEnd RecordLoop::run(const CleaningOperation& operation, const Answers& answers, Dialogs& dialogs,
                       RunProgress& progress) {
  const int loopLine = operation.loopLine();
  ReportingProcedure* reporting = nullptr;
  ReportsAfterStaged reports(
      dialogs, [this] { return grouped_ && !grouped_->empty() && !flushing_; }, control_,
      [&] { reporting->collectTheRest(); });
  ReportingProcedure steps(reports, StartRemovingTag);
  reporting = &steps;
  // Stop ends a value that takes long at once, not when it is done.
  const RegexInterruption interruption([this] { return control_.stopRequested(); });
  if (reportIntoSummary_) steps.collectTheRest();
  steps.offerStop([this] { control_.requestStop(); },
                  [this](const QString& description, const QString& subject) {
                    collected_.add(description, subject);
                  });
  RowIdentity identity;
  try {
    identity = records_.CurrentIdentity();
  } catch (const DbError&) {
    // Reports then name their records by place only.
  }
  steps.setSubject([this, &identity] { return reportedSubject(identity); });
  // Every record the table held when the reading began, however many were counted.
  for (qint64 record = 0; !records_.Eof() && !chunkEnded_; ++record) {
    if (control_.stopRequested()) break;
    reported_ = {record, std::nullopt};
    const std::optional<RecordOutcome> outcome =
        updateRecord(steps, operation, answers, loopLine, record);
    if (reports.waiting()) {
      chunkEnded_ = writeChunk(steps, progress, loopLine);
      reports.showWaiting();
    } else if (!outcome && grouped_->full()) {
      // The reading goes on while the chunk is written.
      chunkEnded_ =
          writeChunk(steps, progress, loopLine, GroupedWriter::Flushing::MayLeaveUnderWay);
    }
    if (recorder_.failed()) return RunEnd::JournalFailed;
    if (!outcome) continue;
    progress.count(*outcome);
    if (*outcome == RecordOutcome::Written) lastWrittenRecord_ = record + 1;
    if (*outcome == RecordOutcome::Interrupted) break;
    if (*outcome == RecordOutcome::InDoubt) {
      return control_.stopRequested() ? RunEnd::Stopped : RunEnd::ConnectionLost;
    }
  }
  // A stop ends the run at a chunk's end: that of the chunk under way, told now, else that
  // of the records staged, written now.
  const std::optional<RunEnd> lastChunk = writeChunk(steps, progress, loopLine);
  if (!chunkEnded_) chunkEnded_ = lastChunk;
  if (recorder_.failed()) return RunEnd::JournalFailed;
  if (chunkEnded_) return *chunkEnded_;
  if (readEnded_) return *readEnded_;
  return control_.stopRequested() ? RunEnd::Stopped : RunEnd::Finished;
}

std::optional<RecordOutcome> RecordLoop::updateRecord(ReportingProcedure& steps,
                                                      const CleaningOperation& operation,
                                                      const Answers& answers, int loopLine,
                                                      qint64 record) {
  const int reportsBefore = steps.reports();
  RecordSet& records = records_;
  FieldValue stored;
  std::optional<QString> newValue;
  std::optional<RecordOutcome> outcome = RecordOutcome::Unchanged;
  steps.step(loopLine + 2, [&] {
    stored = records.Value(field_);
    try {
      newValue = NewValueOf(operation, answers, stored);
    } catch (const RegexLimitError&) {
      if (!control_.stopRequested()) throw;
    }
  });
  // A value computed while Stop was pressed is never written.
  if (control_.stopRequested()) return RecordOutcome::Interrupted;
  // A record whose new value could not be computed is left as it is; a null is never written.
  if (newValue && steps.test(loopLine + 4, [&] { return ChangesRecord(stored, *newValue); })) {
    outcome = RecordOutcome::Reported;
    steps.step(loopLine + 6, [&] { records.SetValue(field_, *newValue); });
    steps.step(loopLine + 8, [&] {
      if (grouped_) {
        records.StageUpdate(*grouped_, record);
        outcome = std::nullopt;
        return;
      }
      try {
        outcome = write();
      } catch (const DbError& failure) {
        if (failure.connectionLost()) outcome = RecordOutcome::InDoubt;
        throw;
      } catch (const JournalError&) {
        // Said once, as the run's end: the recorder keeps why.
        outcome = RecordOutcome::Interrupted;
      }
    });
    // A refused change does not stay in the record set.
    if (outcome != RecordOutcome::Written) records.CancelUpdate();
  }
  steps.step(loopLine + 10, [&] {
    try {
      records.MoveNext();
    } catch (const DbError& failure) {
      // The records after it were not read: the run must not end as finished.
      readEnded_ = failure.connectionLost() ? RunEnd::ConnectionLost : RunEnd::Stopped;
      throw;
    }
  });
  if (outcome == RecordOutcome::Unchanged && steps.reports() > reportsBefore) {
    outcome = RecordOutcome::Reported;
  }
  return outcome;
}

std::optional<RunEnd> RecordLoop::writeChunk(ReportingProcedure& steps, RunProgress& progress,
                                             int loopLine, GroupedWriter::Flushing flushing) {
  if (!grouped_ || grouped_->empty() || flushing_) return std::nullopt;
  flushing_ = true;
  const auto flushed = qScopeGuard([this] { flushing_ = false; });
  const auto report = [&](const DbError& failure) {
    steps.step(loopLine + 8, [&] { throw failure; });
    progress.count(RecordOutcome::Reported);
  };
  // A failure of the chunk as a whole is told of its first record not written.
  std::optional<Reported> firstNotWritten;
  const auto told = [&](qint64 record, int, GroupedWriter::Result result, const DbError* why,
                        const QByteArray& row) {
    reported_ = {record, row};
    const bool notWritten =
        result == GroupedWriter::Result::NotWritten || result == GroupedWriter::Result::InDoubt;
    if (notWritten && !firstNotWritten) firstNotWritten = reported_;
    if (result == GroupedWriter::Result::NotFound) {
      report(DbError(DbMessages::RowNotLocated, 0, "HY000"));
    } else if (result == GroupedWriter::Result::Refused) {
      report(*why);
    } else {
      progress.count(RecordOutcomeOf(result));
    }
    if (result == GroupedWriter::Result::Written) {
      lastWrittenRecord_ = std::max<qint64>(lastWrittenRecord_, record + 1);
    }
    return !control_.stopRequested();
  };
  std::optional<DbError> ended;
  try {
    grouped_->flush(records_.writeObserver(), told, &control_.writing(), true, flushing);
  } catch (const DbError& failure) {
    ended = failure;
  } catch (const JournalError&) {
    return RunEnd::JournalFailed;  // the recorder keeps why
  }
  if (!ended) return control_.stopRequested() ? std::optional(RunEnd::Stopped) : std::nullopt;
  if (control_.stopRequested() && (ended->connectionLost() || ended->interrupted())) {
    return RunEnd::Stopped;
  }
  if (firstNotWritten) reported_ = *firstNotWritten;
  steps.step(loopLine + 8, [&] { throw *ended; });
  return ended->connectionLost() ? RunEnd::ConnectionLost : RunEnd::Stopped;
}

// Throws what is to be reported; a write that the user's stop cancelled is not.
RecordOutcome RecordLoop::write() {
  control_.writing() = true;
  const auto done = qScopeGuard([this] { control_.writing() = false; });
  try {
    records_.Update();
    return RecordOutcome::Written;
  } catch (const DbError& failure) {
    const bool lost = failure.connectionLost();
    if (control_.stopRequested() && (lost || failure.interrupted())) {
      return lost ? RecordOutcome::InDoubt : RecordOutcome::Interrupted;
    }
    throw;
  }
}

// "Record 12 (id = 5)." for the record that a report is about; a table without a key
// gives only the record's place.
QString RecordLoop::reportedSubject(const RowIdentity& identity) const {
  QString subject = QStringLiteral("Record %1").arg(CountText(reported_.record + 1));
  if (identity.keyed) {
    RowValues key;
    try {
      key = reported_.queuedRow ? UnpackedValues(*reported_.queuedRow)
                                : records_.CurrentIdentity().values;
    } catch (const DbError&) {
      // The record is gone from the record set: its place says enough.
    }
    QStringList values;
    for (qsizetype i = 0; i < identity.columns.size() && i < qsizetype(key.size()); ++i) {
      const std::optional<QByteArray>& value = key[std::size_t(i)];
      values << QString::fromUtf8(identity.columns[i]) + QStringLiteral(" = ") +
                    (value ? QString::fromUtf8(*value) : QStringLiteral("NULL"));
    }
    if (!values.isEmpty())
      subject += QStringLiteral(" (") + values.join(QStringLiteral(", ")) + u')';
  }
  return subject + u'.';
}
