#include "RunJournal.h"

#include <algorithm>

#include "Connection.h"
#include "Dialogs.h"
#include "RowCondition.h"

namespace {
const QString Finished = QStringLiteral("Finished");
const QString Stopped = QStringLiteral("Stopped");
const QString ConnectionLost = QStringLiteral("ConnectionLost");
const QString JournalFailed = QStringLiteral("JournalFailed");

const QString& endName(RunEnd end) {
  switch (end) {
    case RunEnd::Finished:
      return Finished;
    case RunEnd::Stopped:
      return Stopped;
    case RunEnd::ConnectionLost:
      return ConnectionLost;
    case RunEnd::JournalFailed:
      return JournalFailed;
  }
  return Stopped;
}
}  // namespace

QString ClusterOf(const Connection* connection) {
  if (!connection || !connection->isOpen()) return {};
  try {
    return connection->clusterId();
  } catch (const DbError&) {
    return {};  // the run goes on; only an undo through another node is not offered
  }
}

JournalRun JournalRunOf(const RunDescription& run, const ConnectionAttributes& connection) {
  JournalRun journaled;
  journaled.started = QDateTime::currentDateTimeUtc();
  journaled.server = connection.server;
  journaled.port = connection.port;
  journaled.database = connection.database;
  journaled.engine = IsPostgreSql(connection) ? QStringLiteral("PostgreSQL") : QString();
  journaled.table = run.table;
  journaled.field = run.field;
  journaled.operation = run.operation;
  journaled.answers = run.answers;
  journaled.rows = run.rows;
  return journaled;
}

JournalRun JournalRunEnded(qint64 id, const RunSummary& summary) {
  JournalRun ended;
  ended.id = id;
  ended.end = endName(summary.end);
  ended.written = summary.counts.written;
  ended.unchanged = summary.counts.unchanged;
  ended.reported = summary.counts.reported + summary.counts.changedSince + summary.counts.gone;
  ended.inDoubt = summary.counts.inDoubt;
  return ended;
}

void EndJournalRun(Journal& journal, qint64 id, RunSummary& summary, Dialogs& dialogs) {
  try {
    journal.endRun(JournalRunEnded(id, summary));
  } catch (const JournalError& failure) {
    summary.journalClosed = false;
    // A run stopped by the journal has told why already: one failure, one box.
    if (summary.end == RunEnd::JournalFailed) return;
    dialogs.message(QStringLiteral("The journal could not record the end of this run (%1). The old "
                                   "values it kept stay in its spool folder and are taken in at "
                                   "the next start.")
                        .arg(QString::fromUtf8(failure.what())));
  }
}

QString DamagedSpoolsText(const Journal& journal) {
  QStringList runs, files;
  for (const Journal::DamagedSpool& damaged : journal.damagedSpools()) {
    runs << QString::number(damaged.run);
    files << damaged.keptAs;
  }
  if (runs.isEmpty()) return {};
  if (runs.size() == 1) {
    return QStringLiteral(
               "The journal found damage in the old values that run %1 left behind: what "
               "could be read is kept, and its undo puts back those rows. The damaged file "
               "is kept as %2.")
        .arg(runs[0], files[0]);
  }
  return QStringLiteral(
             "The journal found damage in the old values that runs %1 left behind: what "
             "could be read is kept, and their undos put back those rows. The damaged files "
             "are kept as %2.")
      .arg(runs.join(QStringLiteral(", ")), files.join(QStringLiteral(", ")));
}

QString JournalRunWhere(const JournalRun& run) {
  // A recipe's run names its fields as its table: "shop: customers.name, orders.note".
  if (run.field.isEmpty()) return run.database + QStringLiteral(": ") + run.table;
  const QString rows = RowsText(run.rows);
  return run.database + u'.' + run.table + u'.' + run.field +
         (rows.isEmpty() ? QString() : u' ' + rows);
}

QString JournalRunOperation(const JournalRun& run) {
  return run.answers.isEmpty() ? run.operation : run.operation + u' ' + QuotedAnswers(run.answers);
}

QString JournalEndText(const QString& end) {
  if (end == Finished) return QStringLiteral("finished");
  if (end == Stopped) return QStringLiteral("stopped by you");
  if (end == ConnectionLost) return QStringLiteral("connection lost");
  if (end == JournalFailed) return QStringLiteral("stopped: the journal could not be written");
  return QStringLiteral("cut short: the program ended");
}

QString JournalWrittenText(const JournalRun& run) {
  // A run of an older version cut short has only its entries to tell.
  if (run.end.isEmpty() && run.written == 0 && run.inDoubt == 0 && run.entries > 0) {
    return QStringLiteral("up to ") + CountText(run.entries);
  }
  QString text = CountText(run.written);
  if (run.inDoubt > 0)
    text += QStringLiteral(" + ") + CountText(run.inDoubt) + QStringLiteral(" in doubt");
  return text;
}

QString JournalUndoneText(const JournalRun& run) {
  QStringList said;
  if (run.undoneBy) {
    said << QStringLiteral("undone by run %1").arg(run.undoneBy);
  } else {
    if (run.restored > 0) {
      said << QStringLiteral("partly undone (%1 of %2)")
                  .arg(CountText(run.restored), CountText(run.entries));
    }
    if (run.undoes) said << QStringLiteral("undoes run %1").arg(run.undoes);
  }
  if (run.damaged) said << QStringLiteral("some old values lost");
  return said.join(QStringLiteral("; "));
}

PartRecorders::PartRecorders(Journal& journal,
                             const std::vector<std::pair<QByteArray, qint64>>& runs) {
  for (const auto& [column, run] : runs) {
    recorders_.push_back({column, std::make_unique<JournalRecorder>(journal, run)});
  }
}

void PartRecorders::aboutToWrite(const RowChange& change) {
  told(change.column).aboutToWrite(change);
}

void PartRecorders::aboutToWriteAll(std::span<const RowChange> changes) {
  while (!changes.empty()) {
    const QByteArray& column = changes.front().column;
    const auto end = std::find_if(changes.begin(), changes.end(),
                                  [&](const RowChange& change) { return change.column != column; });
    const std::size_t count = std::size_t(end - changes.begin());
    told(column).aboutToWriteAll(changes.first(count));
    changes = changes.subspan(count);
  }
}

void PartRecorders::settled(WriteSettled how, const std::optional<QByteArray>* holds) {
  for (Recorder& recorder : recorders_) {
    if (recorder.told) recorder.recorder->settled(how, holds);
    recorder.told = false;
  }
}

QString PartRecorders::failure() const {
  for (const Recorder& recorder : recorders_) {
    if (!recorder.recorder->failure().isEmpty()) return recorder.recorder->failure();
  }
  return {};
}

bool PartRecorders::failed() const {
  return std::any_of(recorders_.begin(), recorders_.end(),
                     [](const Recorder& recorder) { return recorder.recorder->failed(); });
}

JournalRecorder& PartRecorders::told(const QByteArray& column) {
  for (Recorder& recorder : recorders_) {
    if (recorder.column != column) continue;
    recorder.told = true;
    return *recorder.recorder;
  }
  throw JournalError("journal: no part of the run writes the column " + column.toStdString());
}
