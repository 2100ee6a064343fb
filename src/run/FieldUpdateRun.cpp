#include "FieldUpdateRun.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <algorithm>
#include <future>
#include <stdexcept>
#include <tuple>

#include "ChangePreview.h"
#include "ChangeRule.h"
#include "Connection.h"
#include "Dialogs.h"
#include "Events.h"
#include "FieldCollection.h"
#include "GroupedWriter.h"
#include "Journal.h"
#include "ListView.h"
#include "NumberText.h"
#include "RecordSet.h"
#include "RegexReplace.h"
#include "RowCondition.h"
#include "RowUpdater.h"
#include "RunJournal.h"
#include "WindowPointer.h"
#include "WindowThreadDialogs.h"
#include "WorkerThread.h"

namespace {
constexpr int RunTimeoutSeconds = 5000;
// Up to this many rows (as estimated), a run counts its records exactly before it starts.
constexpr qint64 ExactCountRows = 1'000'000;

// A record's report waits while records before it are staged for a chunk: the loop writes
// the chunk, whose reports come first, and then shows it. Nothing is written from inside
// a box.
class ReportsAfterStaged : public Dialogs {
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

// The location tag that error reports show, as users and support know it.
const QString StartClickedTag = QStringLiteral("Klarifeld2021/08/31.Form2.PushButton2_Click");
}  // namespace

FieldUpdateRun::FieldUpdateRun(const BrowserLists& lists, QString operationCaption,
                               QString connectionString, WindowPointer& pointer, Dialogs& dialogs,
                               RunWatcher& watcher, Journal& journal)
    : lists_(lists),
      operationCaption_(std::move(operationCaption)),
      connectionString_(std::move(connectionString)),
      pointer_(pointer),
      dialogs_(dialogs),
      watcher_(watcher),
      journal_(journal),
      steps_(dialogs, StartClickedTag) {}

FieldUpdateRun::~FieldUpdateRun() = default;

void FieldUpdateRun::requestStop() {
  control_.requestStop();
}

void FieldUpdateRun::run() {
  steps_.step(100, [&] { connection_ = CreateObjectAs<Connection>(u"ADODB.Connection"); });
  steps_.step(102, [&] { records_ = CreateObjectAs<RecordSet>(u"ADODB.RecordSet"); });
  if (steps_.test(104, [&] { return lists_.fields.count() < 1; })) {
    steps_.step(684, [&] { dialogs_.message(QStringLiteral("Please select a field.")); });
    return;
  }
  steps_.step(106, [&] { pointer_.setPointer(Pointer::Hourglass); });
  openTable();
  // A table without records asks nothing.
  if (fieldListMatchesTable() && openRecords() &&
      !steps_.test(126, [&] { return Required(records_).Eof(); })) {
    if (const CleaningOperation* operation = FindOperation(operationCaption_)) {
      applyOperation(*operation);
    }
  }
  if (previewing_) {
    // Nothing was written: the main window's preview stands as it is.
    if (records_) records_->Close();
    pointer_.setPointer(Pointer::Default);
    return;
  }
  refillPreview();
}

std::unique_ptr<ChangePreview> FieldUpdateRun::preview() {
  previewing_ = true;
  run();
  return std::move(preview_);
}

void FieldUpdateRun::openTable() {
  steps_.step(108, [&] { Required(connection_).CursorLocation = Connection::UseClient; });
  steps_.step(110, [&] { Required(connection_).CommandTimeout = RunTimeoutSeconds; });
  steps_.step(112, [&] { Required(connection_).ConnectionTimeout = RunTimeoutSeconds; });
  if (connection_) connection_->LockTimeout = RunControl::LockWaitSeconds;
  steps_.step(114, [&] {
    Connection& reads = Required(connection_);
    // Writes, and the questions asked on the way, go over a connection of their own, so
    // that the records stream over theirs. The two are opened side by side.
    writes_ = std::make_unique<Connection>();
    writes_->CommandTimeout = RunTimeoutSeconds;
    writes_->ConnectionTimeout = RunTimeoutSeconds;
    writes_->LockTimeout = RunControl::LockWaitSeconds;
    std::future<void> writesOpen =
        std::async(std::launch::async, [this] { writes_->Open(connectionString_); });
    reads.Open(connectionString_);
    writesOpen.get();
  });
  steps_.step(116, [&] {
    tableFields_ = Required(connection_)
                       .Execute(SelectAllStatement(table()) + QStringLiteral(" LIMIT 0"))
                       ->Fields();
  });
}

// The field is addressed by its position in the field list. A list that no longer matches
// the table (altered meanwhile, or listed from another database) would address another
// column: then nothing is asked or written.
bool FieldUpdateRun::fieldListMatchesTable() {
  bool matches = true;
  steps_.step(116, [&] {
    if (!tableFields_) return;  // its failure is reported already
    matches = false;
    const QString listed = lists_.fields.selectedText();
    if (fieldPosition() >= tableFields_->count() || tableFields_->Name(fieldPosition()) != listed) {
      throw std::runtime_error(
          "The field list no longer matches the table. Click the table to list its fields "
          "again.");
    }
    matches = true;
  });
  return matches && tableFields_;
}

// Reads, row after row as they are needed, only the columns that find a row and the field.
// The rows stream while writes go over the other connection; only a table whose engine
// locks it for the length of a read (not InnoDB) is read in before its first write, since
// a write from elsewhere would wait for that read to end.
bool FieldUpdateRun::openRecords() {
  // The condition is tried before a record is read: a bad one reads and writes nothing.
  if (writes_ && writes_->isOpen()) {
    const QString problem = RowConditionProblem(*writes_, table(), rowCondition_);
    if (!problem.isEmpty()) {
      dialogs_.message(problem);
      return false;
    }
  }
  TableFacts facts;
  steps_.step(116, [&] {
    Connection& writes = Required(writes_);
    facts = TableFactsOf(writes, table());
    QByteArrayList keyColumns;
    const std::vector<int> columns =
        FieldsForWriting(*writes.session(), *tableFields_, {fieldPosition()}, &keyColumns);
    QStringList names;
    for (int column : columns) names << QuotedName(tableFields_->Name(column));
    readField_ = int(std::find(columns.begin(), columns.end(), fieldPosition()) - columns.begin());
    const bool streams = facts.engine.compare(u"InnoDB", Qt::CaseInsensitive) == 0;
    const QString waitingForTheReader = streams ? WaitingForTheReader() : QString();
    Required(records_).Open(waitingForTheReader + QStringLiteral("SELECT ") +
                                names.join(QStringLiteral(", ")) + QStringLiteral(" FROM ") +
                                QuotedName(table()) + WhereClause(rowCondition_),
                            Required(connection_), RecordSet::Keyset, RecordSet::Optimistic);
    if (streams) {
      records_->WriteThrough(writes, keyColumns);
    } else {
      facts.estimatedRows = 0;  // counted exactly below, as quickly as it is read in
    }
  });
  if (!records_ || !records_->isOpen()) return false;
  // Only a run shows how far it is. An exact count reads the table once more: worth it
  // only while that is quick, and then on a connection of its own while the run begins. The
  // server's estimate stands until it comes, or if it never does.
  expectedRecords_ = facts.estimatedRows;
  if (!previewing_ && facts.estimatedRows <= ExactCountRows) {
    steps_.step(124, [&] { exactCount_ = countAside(); });
  }
  return true;
}

std::future<qint64> FieldUpdateRun::countAside() const {
  return std::async(std::launch::async, [connectionString = connectionString_, table = table(),
                                         where = WhereClause(rowCondition_)] {
    Connection side;
    side.CommandTimeout = RunTimeoutSeconds;
    side.ConnectionTimeout = RunTimeoutSeconds;
    side.Open(connectionString);
    return side.Execute(QStringLiteral("SELECT COUNT(*) FROM ") + QuotedName(table) + where)
        ->Value(0)
        .value_or(QString())
        .toLongLong();
  });
}

void FieldUpdateRun::applyOperation(const CleaningOperation& operation) {
  if (const std::optional<Answers> answers = askAnswers(operation)) {
    if (previewing_) {
      computePreview(operation, *answers);
    } else {
      updateRecords(operation, *answers);
    }
  }
}

// The questions and tests of the operation; no answers when it ends there.
// Tried on the values the main window shows, each for a moment at most: the dialog checks
// them at every key.
PatternQuestion FieldUpdateRun::patternQuestion(const CleaningOperation& operation) const {
  constexpr int Samples = 6;
  PatternQuestion question{.patternPrompt = OperationQuestions(operation.kind)[0],
                           .replacementPrompt = OperationQuestions(operation.kind)[1]};
  for (int i = 0; i < std::min(Samples, lists_.preview.count()); ++i) {
    question.samples << lists_.preview.text(i);
  }
  question.problem = [&operation](const QString& pattern, const QString& replacement) {
    return operation.answersProblem({pattern, replacement});
  };
  question.apply = [&operation](const QString& sample, const QString& pattern,
                                const QString& replacement) {
    QElapsedTimer clock;
    clock.start();
    const RegexInterruption brief([&clock] { return clock.elapsed() > 100; });
    return operation.transform(sample, {pattern, replacement});
  };
  return question;
}

std::optional<Answers> FieldUpdateRun::askAnswers(const CleaningOperation& operation) {
  const int line = operation.testLine;
  const QStringList questions = OperationQuestions(operation.kind);
  Answers answers;
  const auto ask = [&](int at, QString& answer, const QString& prompt) {
    steps_.step(at, [&] { answer = dialogs_.input(prompt); });
  };
  // An empty answer ends the operation; the window's status line says so.
  const auto endsEmpty = [&](int at, const QString& answer) {
    const bool empty = steps_.test(at, [&] { return answer.isEmpty(); });
    if (empty) quietEnd_ = QStringLiteral("Nothing was changed: the answer was empty.");
    return empty;
  };
  switch (operation.kind) {
    case OperationKind::Plain:
      return answers;
    case OperationKind::Replacement:
    case OperationKind::Characters:
      ask(line + 2, answers.first, questions[0]);
      if (endsEmpty(line + 4, answers.first)) return std::nullopt;
      return answers;
    case OperationKind::ValueMap: {
      ask(line + 2, answers.first, questions[0]);
      if (endsEmpty(line + 4, answers.first)) return std::nullopt;
      const QString problem = operation.answersProblem(answers);
      if (problem.isEmpty()) return answers;
      steps_.step(operation.loopLine() + 14, [&] { dialogs_.message(problem); });
      return std::nullopt;
    }
    case OperationKind::SearchAndReplacement:
      ask(line + 2, answers.first, questions[0]);
      ask(line + 4, answers.second, questions[1]);
      if (endsEmpty(line + 6, answers.first)) return std::nullopt;
      return answers;
    case OperationKind::PatternAndReplacement: {
      steps_.step(line + 2, [&] {
        std::tie(answers.first, answers.second) = dialogs_.askPattern(patternQuestion(operation));
      });
      if (endsEmpty(line + 6, answers.first)) return std::nullopt;
      // Refused before any record is read, as a number that is none.
      const QString problem = operation.answersProblem(answers);
      if (problem.isEmpty()) return answers;
      steps_.step(operation.loopLine() + 14, [&] { dialogs_.message(problem); });
      return std::nullopt;
    }
    case OperationKind::Number:
      ask(line + 2, answers.first, questions[0]);
      if (steps_.test(line + 4, [&] { return !IsNumeric(answers.first); })) {
        steps_.step(operation.loopLine() + 14,
                    [&] { dialogs_.message(QStringLiteral("Must enter number")); });
        return std::nullopt;
      }
      if (endsEmpty(line + 6, answers.first)) return std::nullopt;
      return answers;
  }
  return std::nullopt;
}

// Exactly RecordCount passes, one record each, unless the run is stopped, loses its
// connection or its journal on the way.
void FieldUpdateRun::updateRecords(const CleaningOperation& operation, const Answers& answers) {
  const RunDescription description = describe(operation, answers);
  const std::optional<qint64> journalRun = beginJournalRun(description);
  if (!journalRun) return;
  JournalRecorder recorder(journal_, *journalRun);
  recorder_ = &recorder;
  // A chunk still under way tells the recorder, whatever ends the run.
  const auto underWayEnded = qScopeGuard([this] { grouped_.reset(); });
  RecordSet& records = Required(records_);
  records.setWriteObserver(&recorder);

  RunProgress progress(expectedRecords_);
  std::future<void> counted;  // the exact count, put in when it comes
  if (exactCount_.valid()) {
    counted = std::async(std::launch::async, [&progress, count = std::move(exactCount_)]() mutable {
      try {
        progress.setTotal(count.get());
      } catch (const std::exception&) {
        // The estimate stands; the run reports its own failures.
      }
    });
  }
  RunDescription shown = description;
  try {
    QString whyNot;
    grouped_ = records.GroupedWrites(readField_, &whyNot);
    if (grouped_) shown.stopping = StoppingAfterChunk(grouped_->chunkRows());
    if (!whyNot.isEmpty()) {
      shown.note = QStringLiteral(
                       "Each record is written on its own, in a round trip of its "
                       "own: %1.")
                       .arg(whyNot);
    }
  } catch (const DbError&) {
    // Written one by one, as ever; a lost link is reported by the first write.
  }
  control_.watch(writes_.get());
  watcher_.runStarted(shown, progress, [this] { requestStop(); });
  QElapsedTimer clock;
  clock.start();
  RunEnd end = RunEnd::Finished;
  WindowThreadDialogs dialogs(dialogs_);  // made here, so that its boxes are shown here
  RunWhileServingEvents([&] { end = goThroughRecords(operation, answers, dialogs, progress); });
  control_.watch(nullptr);
  control_.settle();
  if (counted.valid()) counted.wait();
  if (end == RunEnd::Finished) progress.setTotal(progress.counts().done);
  grouped_.reset();
  records.setWriteObserver(nullptr);
  recorder_ = nullptr;
  // The loss was reported once: reading the preview again would only report it again.
  connectionLost_ = end == RunEnd::ConnectionLost || progress.counts().inDoubt > 0;
  RunSummary summary{end, progress.counts(), clock.elapsed()};
  summary.collected = collected_.groups();
  summary.journalRun = *journalRun;
  if (end == RunEnd::JournalFailed) {
    dialogs_.message(QStringLiteral("The journal that keeps the old values could not be written "
                                    "(%1), so the run stopped: nothing after record %2 was "
                                    "written.")
                         .arg(recorder.failure(), CountText(lastWrittenRecord_)));
  }
  EndJournalRun(journal_, *journalRun, summary, dialogs_);
  watcher_.runEnded(summary);
}

// Nothing is written without a journal to take it back.
std::optional<qint64> FieldUpdateRun::beginJournalRun(const RunDescription& description) {
  try {
    JournalRun run = JournalRunOf(description, ParseConnectionString(connectionString_));
    run.cluster = ClusterOf(writes_.get());
    return journal_.beginRun(run);
  } catch (const JournalError& failure) {
    journalRefused_ = true;
    dialogs_.message(QStringLiteral("The journal that keeps the old values cannot be written (%1), "
                                    "so nothing was changed.")
                         .arg(QString::fromUtf8(failure.what())));
    return std::nullopt;
  }
}

// Every new value, on the worker thread, writing nothing. A failure to read ends it, told
// in one box.
void FieldUpdateRun::computePreview(const CleaningOperation& operation, const Answers& answers) {
  try {
    RecordSet& records = Required(records_);
    const int field = readField_;
    const FieldInfo info = records.Fields().at(field);
    const RowIdentity identity = records.CurrentIdentity();
    const ConnectionAttributes attributes = ParseConnectionString(connectionString_);
    RunDescription description = describe(operation, answers);
    description.since = QStringLiteral("the preview");
    auto preview = std::make_unique<ChangePreview>(
        description,
        RewriteTarget{attributes.database, table(), identity.columns, identity.keyed, info.column},
        info.binary);
    const ColumnLimits limits = ColumnLimitsOf(Required(writes_), info);
    if (previewDrain_.drain) preview->drainEvery(previewDrain_.entries, previewDrain_.drain);
    RunWhileServingEvents([&] {
      ComputePreview(*preview, records, field, operation, answers, limits);
      preview->drainRest();
    });
    preview_ = std::move(preview);
  } catch (const std::exception& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
  }
}

// On the worker thread: the records and their connection are its own until it returns.
RunEnd FieldUpdateRun::goThroughRecords(const CleaningOperation& operation, const Answers& answers,
                                        Dialogs& dialogs, RunProgress& progress) {
  const int loopLine = operation.loopLine();
  ReportingProcedure* reporting = nullptr;
  ReportsAfterStaged reports(
      dialogs, [this] { return grouped_ && !grouped_->empty() && !flushing_; }, control_,
      [&] { reporting->collectTheRest(); });
  ReportingProcedure steps(reports, StartClickedTag);
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
    identity = records_->CurrentIdentity();
  } catch (const DbError&) {
    // Reports then name their records by place only.
  }
  steps.setSubject([this, &identity] { return reportedSubject(identity); });
  // Every record the table held when the reading began, however many were counted.
  for (qint64 record = 0; !records_->Eof() && !chunkEnded_; ++record) {
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
    if (recorder_->failed()) return RunEnd::JournalFailed;
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
  if (recorder_->failed()) return RunEnd::JournalFailed;
  if (chunkEnded_) return *chunkEnded_;
  if (readEnded_) return *readEnded_;
  return control_.stopRequested() ? RunEnd::Stopped : RunEnd::Finished;
}

std::optional<RecordOutcome> FieldUpdateRun::updateRecord(ReportingProcedure& steps,
                                                          const CleaningOperation& operation,
                                                          const Answers& answers, int loopLine,
                                                          qint64 record) {
  const int reportsBefore = steps.reports();
  RecordSet& records = *records_;
  FieldValue stored;
  std::optional<QString> newValue;
  std::optional<RecordOutcome> outcome = RecordOutcome::Unchanged;
  steps.step(loopLine + 2, [&] {
    stored = records.Value(readField_);
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
    steps.step(loopLine + 6, [&] { records.SetValue(readField_, *newValue); });
    steps.step(loopLine + 8, [&] {
      if (grouped_) {
        records.StageUpdate(*grouped_, record);
        outcome = std::nullopt;
        return;
      }
      try {
        outcome = write(records);
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

std::optional<RunEnd> FieldUpdateRun::writeChunk(ReportingProcedure& steps, RunProgress& progress,
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
    grouped_->flush(records_->writeObserver(), told, &control_.writing(), true, flushing);
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
RecordOutcome FieldUpdateRun::write(RecordSet& records) {
  control_.writing() = true;
  const auto done = qScopeGuard([this] { control_.writing() = false; });
  try {
    records.Update();
    return RecordOutcome::Written;
  } catch (const DbError& failure) {
    const bool lost = failure.connectionLost();
    if (control_.stopRequested() && (lost || failure.interrupted())) {
      return lost ? RecordOutcome::InDoubt : RecordOutcome::Interrupted;
    }
    throw;
  }
}

RunDescription FieldUpdateRun::describe(const CleaningOperation& operation,
                                        const Answers& answers) const {
  RunDescription run{.table = table(),
                     .field = lists_.fields.selectedText(),
                     .operation = operation.caption.toString(),
                     .rows = rowCondition_};
  switch (operation.kind) {
    case OperationKind::Plain:
      break;
    case OperationKind::SearchAndReplacement:
    case OperationKind::PatternAndReplacement:
      run.answers = {answers.first, answers.second};
      break;
    default:
      run.answers = {answers.first};
  }
  return run;
}

// "Record 12 (id = 5)." for the record that a report is about; a table without a key
// gives only the record's place.
QString FieldUpdateRun::reportedSubject(const RowIdentity& identity) const {
  QString subject = QStringLiteral("Record %1").arg(CountText(reported_.record + 1));
  if (identity.keyed) {
    RowValues key;
    try {
      key = reported_.queuedRow ? UnpackedValues(*reported_.queuedRow)
                                : records_->CurrentIdentity().values;
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

QString FieldUpdateRun::table() const {
  return lists_.tables.selectedText();
}

int FieldUpdateRun::fieldPosition() const {
  return lists_.fields.selectedIndex();
}

// After a lost connection the preview keeps what it showed: reading it again would only
// report the same loss once more.
void FieldUpdateRun::refillPreview() {
  steps_.step(650, [&] { Required(records_).Close(); });
  if (connectionLost_) {
    steps_.step(678, [&] { pointer_.setPointer(Pointer::Default); });
    return;
  }
  steps_.step(652, [&] {
    Required(records_).Open(SelectFieldStatement(lists_.fields.selectedText(), table()),
                            Required(connection_), RecordSet::Static, RecordSet::Optimistic);
  });
  steps_.step(654, [&] { lists_.preview.clear(); });
  steps_.step(656, [&] { pointer_.setPointer(Pointer::Hourglass); });
  steps_.step(662, [] { LetPendingEventsRun(); });
  AddPreviewRows(steps_, 664, records_, lists_.preview);
  steps_.step(676, [&] { Required(records_).Close(); });
  steps_.step(678, [&] { pointer_.setPointer(Pointer::Default); });
}
