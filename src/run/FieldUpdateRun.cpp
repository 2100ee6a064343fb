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
#include "Engine.h"
#include "Events.h"
#include "FieldCollection.h"
#include "GroupedWriter.h"
#include "Journal.h"
#include "ListView.h"
#include "NumberText.h"
#include "RecordLoop.h"
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
      steps_(dialogs, StartRemovingTag) {}

FieldUpdateRun::~FieldUpdateRun() = default;

void FieldUpdateRun::requestStop() {
  control_.requestStop();
}

void FieldUpdateRun::run() {
  steps_.step(100, [&] { opened_.reads = CreateObjectAs<Connection>(u"ADODB.Connection"); });
  steps_.step(102, [&] { opened_.records = CreateObjectAs<RecordSet>(u"ADODB.RecordSet"); });
  if (steps_.test(104, [&] { return lists_.fields.count() < 1; })) {
    steps_.step(684, [&] { dialogs_.message(QStringLiteral("Please select a field.")); });
    return;
  }
  steps_.step(106, [&] { pointer_.setPointer(Pointer::Hourglass); });
  openTable();
  // A table without records asks nothing.
  if (fieldListMatchesTable() && openRecords() &&
      !steps_.test(126, [&] { return Required(opened_.records).Eof(); })) {
    if (const CleaningOperation* operation = FindOperation(operationCaption_)) {
      applyOperation(*operation);
    }
  }
  if (asked_.previewing) {
    // Nothing was written: the main window's preview stands as it is.
    if (opened_.records) opened_.records->Close();
    pointer_.setPointer(Pointer::Default);
    return;
  }
  refillPreview();
}

std::unique_ptr<ChangePreview> FieldUpdateRun::preview() {
  asked_.previewing = true;
  run();
  return std::move(preview_);
}

void FieldUpdateRun::openTable() {
  steps_.step(108, [&] { Required(opened_.reads).CursorLocation = Connection::UseClient; });
  steps_.step(110, [&] { Required(opened_.reads).CommandTimeout = RunTimeoutSeconds; });
  steps_.step(112, [&] { Required(opened_.reads).ConnectionTimeout = RunTimeoutSeconds; });
  if (opened_.reads) opened_.reads->LockTimeout = RunControl::LockWaitSeconds;
  steps_.step(114, [&] {
    Connection& reads = Required(opened_.reads);
    // Writes, and the questions asked on the way, go over a connection of their own, so
    // that the records stream over theirs. The two are opened side by side.
    opened_.writes = std::make_unique<Connection>();
    opened_.writes->CommandTimeout = RunTimeoutSeconds;
    opened_.writes->ConnectionTimeout = RunTimeoutSeconds;
    opened_.writes->LockTimeout = RunControl::LockWaitSeconds;
    std::future<void> writesOpen =
        std::async(std::launch::async, [this] { opened_.writes->Open(connectionString_); });
    reads.Open(connectionString_);
    writesOpen.get();
  });
  steps_.step(116, [&] {
    Connection& reads = Required(opened_.reads);
    opened_.fields = EngineOf(reads).fieldsOf(reads, table());
  });
}

// The field is addressed by its position in the field list. A list that no longer matches
// the table (altered meanwhile, or listed from another database) would address another
// column: then nothing is asked or written.
bool FieldUpdateRun::fieldListMatchesTable() {
  bool matches = true;
  steps_.step(116, [&] {
    if (!opened_.fields) return;  // its failure is reported already
    matches = false;
    const QString listed = lists_.fields.selectedText();
    if (fieldPosition() >= opened_.fields->count() ||
        opened_.fields->Name(fieldPosition()) != listed) {
      throw std::runtime_error(
          "The field list no longer matches the table. Click the table to list its fields "
          "again.");
    }
    matches = true;
  });
  return matches && opened_.fields;
}

// Reads, row after row as they are needed, only the columns that find a row and the field.
// The rows stream while writes go over the other connection; only a table whose engine
// locks it for the length of a read (not InnoDB) is read in before its first write, since
// a write from elsewhere would wait for that read to end.
bool FieldUpdateRun::openRecords() {
  // The condition is tried before a record is read: a bad one reads and writes nothing.
  if (opened_.writes && opened_.writes->isOpen()) {
    const QString problem = RowConditionProblem(*opened_.writes, table(), asked_.rowCondition);
    if (!problem.isEmpty()) {
      dialogs_.message(problem);
      return false;
    }
  }
  TableFacts facts;
  steps_.step(116, [&] {
    Connection& writes = Required(opened_.writes);
    const Engine& engine = EngineOf(writes);
    facts = engine.tableFacts(writes, table());
    QByteArrayList keyColumns;
    const std::vector<int> columns =
        FieldsForWriting(*writes.session(), *opened_.fields, {fieldPosition()}, &keyColumns);
    QStringList names;
    for (int column : columns) names << engine.quotedName(opened_.fields->Name(column));
    opened_.field =
        int(std::find(columns.begin(), columns.end(), fieldPosition()) - columns.begin());
    const bool streams = facts.readsBesideWrites;
    const QString besideWrites = streams ? engine.readingBesideWrites() : QString();
    Required(opened_.records)
        .Open(besideWrites + QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) +
                  QStringLiteral(" FROM ") + engine.quotedTable(table()) +
                  WhereClause(asked_.rowCondition),
              Required(opened_.reads), RecordSet::Keyset, RecordSet::Optimistic);
    if (streams) {
      opened_.records->WriteThrough(writes, keyColumns);
    } else {
      facts.estimatedRows = 0;  // counted exactly below, as quickly as it is read in
    }
  });
  if (!opened_.records || !opened_.records->isOpen()) return false;
  // Only a run shows how far it is. An exact count reads the table once more: worth it
  // only while that is quick, and then on a connection of its own while the run begins. The
  // server's estimate stands until it comes, or if it never does.
  opened_.expectedRecords = facts.estimatedRows;
  if (!asked_.previewing && facts.estimatedRows <= ExactCountRows) {
    steps_.step(124, [&] { opened_.exactCount = countAside(); });
  }
  return true;
}

std::future<qint64> FieldUpdateRun::countAside() const {
  return std::async(std::launch::async, [connectionString = connectionString_, table = table(),
                                         where = WhereClause(asked_.rowCondition)] {
    Connection side;
    side.CommandTimeout = RunTimeoutSeconds;
    side.ConnectionTimeout = RunTimeoutSeconds;
    side.Open(connectionString);
    return side
        .Execute(QStringLiteral("SELECT COUNT(*) FROM ") + EngineOf(side).quotedTable(table) + where)
        ->Value(0)
        .value_or(QString())
        .toLongLong();
  });
}

void FieldUpdateRun::applyOperation(const CleaningOperation& operation) {
  if (const std::optional<Answers> answers = askAnswers(operation)) {
    if (asked_.previewing) {
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
    if (empty) ended_.quietEnd = QStringLiteral("Nothing was changed: the answer was empty.");
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
  RecordSet& records = Required(opened_.records);
  records.setWriteObserver(&recorder);

  RunProgress progress(opened_.expectedRecords);
  std::future<void> counted;  // the exact count, put in when it comes
  if (opened_.exactCount.valid()) {
    counted = std::async(std::launch::async,
                         [&progress, count = std::move(opened_.exactCount)]() mutable {
                           try {
                             progress.setTotal(count.get());
                           } catch (const std::exception&) {
                             // The estimate stands; the run reports its own failures.
                           }
                         });
  }
  RunDescription shown = description;
  std::unique_ptr<GroupedWriter> grouped;
  try {
    QString whyNot;
    grouped = records.GroupedWrites(opened_.field, &whyNot);
    if (grouped) shown.stopping = StoppingAfterChunk(grouped->chunkRows());
    if (!whyNot.isEmpty()) {
      shown.note = QStringLiteral(
                       "Each record is written on its own, in a round trip of its "
                       "own: %1.")
                       .arg(whyNot);
    }
  } catch (const DbError&) {
    // Written one by one, as ever; a lost link is reported by the first write.
  }
  std::optional<RecordLoop> loop(std::in_place, records, opened_.field, std::move(grouped),
                                 control_, recorder);
  if (asked_.reportIntoSummary) loop->reportIntoSummary();
  control_.watch(opened_.writes.get());
  watcher_.runStarted(shown, progress, [this] { requestStop(); });
  QElapsedTimer clock;
  clock.start();
  RunEnd end = RunEnd::Finished;
  WindowThreadDialogs dialogs(dialogs_);  // made here, so that its boxes are shown here
  RunWhileServingEvents([&] { end = loop->run(operation, answers, dialogs, progress); });
  control_.watch(nullptr);
  control_.settle();
  if (counted.valid()) counted.wait();
  if (end == RunEnd::Finished) progress.setTotal(progress.counts().done);
  const qint64 lastWritten = loop->lastWrittenRecord();
  const CollectedReports collected = loop->collected();
  loop.reset();  // a chunk still under way tells the recorder first
  records.setWriteObserver(nullptr);
  // The loss was reported once: reading the preview again would only report it again.
  ended_.connectionLost = end == RunEnd::ConnectionLost || progress.counts().inDoubt > 0;
  RunSummary summary{end, progress.counts(), clock.elapsed()};
  summary.collected = collected.groups();
  summary.journalRun = *journalRun;
  if (end == RunEnd::JournalFailed) {
    dialogs_.message(QStringLiteral("The journal that keeps the old values could not be written "
                                    "(%1), so the run stopped: nothing after record %2 was "
                                    "written.")
                         .arg(recorder.failure(), CountText(lastWritten)));
  }
  EndJournalRun(journal_, *journalRun, summary, dialogs_);
  watcher_.runEnded(summary);
}

// Nothing is written without a journal to take it back.
std::optional<qint64> FieldUpdateRun::beginJournalRun(const RunDescription& description) {
  try {
    JournalRun run = JournalRunOf(description, Required(opened_.writes).attributes());
    run.cluster = ClusterOf(opened_.writes.get());
    return journal_.beginRun(run);
  } catch (const JournalError& failure) {
    ended_.journalRefused = true;
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
    RecordSet& records = Required(opened_.records);
    const int field = opened_.field;
    const FieldInfo info = records.Fields().at(field);
    const RowIdentity identity = records.CurrentIdentity();
    RunDescription description = describe(operation, answers);
    description.since = QStringLiteral("the preview");
    auto preview = std::make_unique<ChangePreview>(
        description,
        RewriteTarget{Required(opened_.writes).attributes().database, table(), identity.columns,
                      identity.keyed, info.column},
        info.binary);
    Connection& writes = Required(opened_.writes);
    const ColumnLimits limits = EngineOf(writes).columnLimits(writes, info);
    if (asked_.drain) preview->drainEvery(asked_.drainEntries, asked_.drain);
    RunWhileServingEvents([&] {
      ComputePreview(*preview, records, field, operation, answers, limits);
      preview->drainRest();
    });
    preview_ = std::move(preview);
  } catch (const std::exception& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
  }
}

RunDescription FieldUpdateRun::describe(const CleaningOperation& operation,
                                        const Answers& answers) const {
  RunDescription run{.table = table(),
                     .field = lists_.fields.selectedText(),
                     .operation = operation.caption.toString(),
                     .rows = asked_.rowCondition};
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

QString FieldUpdateRun::table() const {
  return lists_.tables.selectedText();
}

int FieldUpdateRun::fieldPosition() const {
  return lists_.fields.selectedIndex();
}

// After a lost connection the preview keeps what it showed: reading it again would only
// report the same loss once more.
void FieldUpdateRun::refillPreview() {
  steps_.step(650, [&] { Required(opened_.records).Close(); });
  if (ended_.connectionLost) {
    steps_.step(678, [&] { pointer_.setPointer(Pointer::Default); });
    return;
  }
  steps_.step(652, [&] {
    Required(opened_.records)
        .Open(EngineOf(Required(opened_.reads)).selectField(lists_.fields.selectedText(), table()),
              Required(opened_.reads), RecordSet::Static, RecordSet::Optimistic);
  });
  steps_.step(654, [&] { lists_.preview.clear(); });
  steps_.step(656, [&] { pointer_.setPointer(Pointer::Hourglass); });
  steps_.step(662, [] { LetPendingEventsRun(); });
  AddPreviewRows(steps_, 664, opened_.records, lists_.preview);
  steps_.step(676, [&] { Required(opened_.records).Close(); });
  steps_.step(678, [&] { pointer_.setPointer(Pointer::Default); });
}
