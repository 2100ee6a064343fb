#include "UndoRun.h"

#include <QScopeGuard>
#include <map>
#include <ranges>

#include "ChangePreview.h"
#include "Connection.h"
#include "ConnectionString.h"
#include "Dialogs.h"
#include "Journal.h"
#include "RowRewriter.h"
#include "RunJournal.h"

namespace {

bool sameServer(const JournalRun& run, const ConnectionAttributes& login) {
  return run.server.compare(login.server, Qt::CaseInsensitive) == 0 &&
         run.port.trimmed() == login.port.trimmed();
}

}  // namespace

// Another node of the cluster that the run wrote to holds the same rows.
bool UndoRun::sameCluster(const JournalRun& run) const {
  if (run.cluster.isEmpty()) return false;
  try {
    Connection connection;
    connection.Open(login_);
    return connection.clusterId() == run.cluster;
  } catch (const DbError&) {
    return false;  // refused as another server; the link's failure is told by the undo
  }
}

UndoRun::UndoRun(Journal& journal, qint64 runId, ConnectionAttributes login, Dialogs& dialogs,
                 RunWatcher& watcher)
    : journal_(journal),
      runId_(runId),
      login_(login),
      dialogs_(dialogs),
      rewrites_(journal, std::move(login), dialogs, watcher) {}

// A run that is gone, taken back already, wrote nothing or was made elsewhere is told
// so and left.
bool UndoRun::refusesTheRun() {
  const std::optional<JournalRun> run = journal_.run(runId_);
  QString refusal;
  if (!run && !journal_.numbered(runId_)) {
    refusal = QStringLiteral("No run %1 in the journal.").arg(runId_);
  } else if (!run) {
    refusal = QStringLiteral("This run is no longer in the journal.");
  } else if (run->partOf) {
    refusal =
        QStringLiteral("This run is a part of run %1, and is undone with it.").arg(run->partOf);
  } else if (run->undoneBy) {
    refusal = QStringLiteral("This run was undone already, by run %1.").arg(run->undoneBy);
  } else if (run->entries == 0 || writers(*run).empty()) {
    refusal = QStringLiteral("This run wrote nothing, so there is nothing to undo.");
  } else if (run->engine != (IsPostgreSql(login_) ? QStringLiteral("PostgreSQL") : QString())) {
    refusal = QStringLiteral(
                  "This run was made on %1. Log in to its server with that engine to "
                  "undo it.")
                  .arg(run->engine.isEmpty() ? QStringLiteral("MySQL or MariaDB") : run->engine);
  } else if (!sameServer(*run, login_) && !sameCluster(*run)) {
    refusal = QStringLiteral(
                  "This run was made on the server %1, port %2. Log in to that "
                  "server to undo it.")
                  .arg(run->server, run->port);
  }
  if (refusal.isEmpty()) return false;
  dialogs_.message(refusal);
  return true;
}

RunDescription UndoRun::description(const JournalRun& undone) const {
  // A recipe's run keeps its fields as its place; the progress names its tables, as the
  // recipe's own run did.
  const bool recipe = undone.field.isEmpty();
  QStringList tables{undone.table};
  if (recipe) {
    tables.clear();
    for (const JournalRun& part : journal_.parts(undone.id)) {
      if (!tables.contains(part.table)) tables << part.table;
    }
  }
  return {.table = tables.join(QStringLiteral(", ")),
          .field = recipe ? undone.table : undone.field,
          .operation = QStringLiteral("Undo Run %1 (%2)").arg(undone.id).arg(undone.operation),
          .answers = undone.answers};
}

std::vector<JournalRun> UndoRun::writers(const JournalRun& undone) const {
  std::vector<JournalRun> parts = journal_.parts(undone.id);
  if (parts.empty()) parts = {undone};
  // A run or part that wrote nothing has nothing to take back, nor the columns to find rows by.
  std::erase_if(parts, [](const JournalRun& part) {
    return part.entries == 0 || part.identityColumns.isEmpty();
  });
  return parts;
}

namespace {

RewriteTarget targetOf(const JournalRun& run) {
  return {run.database, run.table, run.identityColumns, run.keyed, run.column};
}

}  // namespace

ChangePreviews UndoRun::preview(const PreviewSetup& setUp) {
  if (refusesTheRun()) return {};
  const JournalRun undone = *journal_.run(runId_);
  ChangePreviews previews;
  try {
    Connection connection;
    connection.Open(login_);
    for (const JournalRun& part : writers(undone)) {
      const RewriteTarget target = targetOf(part);
      RowRewriter rows(connection, target.database, target.table, target.identityColumns,
                       target.keyed, {target.column});
      auto preview = std::make_unique<ChangePreview>(description(part), target, false);
      if (setUp) setUp(*preview);
      const auto bytes = [](const std::optional<QByteArray>& value) {
        return value ? QByteArrayView(*value) : QByteArrayView();
      };
      qint64 position = 0;
      damaged_[part.id] = journal_.forEachEntry(part.id, [&](const JournalEntry& entry) {
        ++preview->counts.read;
        if (rows.holds(entry.identity, entry.after)) {
          preview->add(position, PackedValues(entry.identity), bytes(entry.after),
                       bytes(entry.before), false);
        } else {
          ++preview->counts.unchanged;  // changed since the run, or back already
        }
        ++position;
      });
      preview->drainRest();
      previews.push_back(std::move(preview));
    }
    tellDamaged();
    return previews;
  } catch (const DbError& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
    return {};
  }
}

void UndoRun::run() {
  if (refusesTheRun()) return;
  const JournalRun undone = *journal_.run(runId_);
  const RunDescription description = this->description(undone);
  const auto undoOf = [&](const JournalRun& run) {
    JournalRun journaled = JournalRunOf(this->description(run), login_);
    journaled.database = run.database;
    journaled.table = run.table;
    journaled.undoes = run.id;
    return journaled;
  };
  // Last part first: a part may have found its rows by the values an earlier one wrote.
  const std::vector<JournalRun> writers = this->writers(undone);
  const std::vector<JournalRun> lastFirst(writers.rbegin(), writers.rend());
  // The run's new value is what must still stand; its old value goes back.
  const RewriteSource entries = [&](const PartRange& asked, const RewriteVisitor& visit) {
    bool going = true;
    for (std::size_t part = asked.first; going && part < asked.first + asked.count; ++part) {
      damaged_[lastFirst[part].id] =
          journal_.visitEntriesWhile(lastFirst[part].id, [&](const JournalEntry& entry) {
            return going = visit({entry.identity, entry.after, entry.before, part});
          });
    }
  };
  const auto told = qScopeGuard([this] { tellDamaged(); });
  if (writers.size() == 1 && writers.front().id == undone.id) {
    const std::optional<qint64> undo =
        rewrites_.run(targetOf(undone), undoOf(undone), description, undone.entries, entries);
    if (undo) markTakenBack(undone, *undo, rewrites_.summary());
    return;
  }
  std::vector<RewritePart> parts;
  for (const JournalRun& part : lastFirst) {
    parts.push_back({part.table + u'.' + part.field, targetOf(part), undoOf(part), part.entries});
  }
  JournalRun whole = undoOf(undone);
  whole.field.clear();
  const std::optional<qint64> undo =
      rewrites_.runParts(parts, entries, RewriteOrder::ByPart, whole, description);
  if (!undo) return;
  bool allBack = true;
  for (std::size_t i = 0; i < lastFirst.size(); ++i) {
    const JournalRun& part = lastFirst[i];
    const RewriteRun::PartDone& done = rewrites_.partsDone()[i];
    markTakenBack(part, done.journalId, done.summary);
    allBack = allBack && journal_.run(part.id)->undoneBy != 0;
  }
  const RunCounts& counts = rewrites_.summary().counts;
  if (allBack) {
    journal_.markUndone(undone.id, *undo);
  } else {
    journal_.markPartlyUndone(undone.id, counts.written + counts.unchanged);
  }
}

// Entries the journal could not read leave their rows as they are, and the run partly
// undone: the user is told how many, once.
void UndoRun::tellDamaged() {
  qint64 damaged = 0;
  for (const auto& [run, count] : damaged_) damaged += count;
  damaged_.clear();
  if (damaged > 0) {
    dialogs_.message(QStringLiteral("%1 of the run's old values could not be read from the "
                                    "journal (it is damaged), so their rows were left as they are.")
                         .arg(CountText(damaged)));
  } else if (const std::optional<JournalRun> run = journal_.run(runId_); run && run->damaged) {
    dialogs_.message(
        QStringLiteral("Some of the run's old values were lost to damage in the "
                       "journal, so their rows keep the values the run wrote."));
  }
}

// A row whose old value stood already came back too, by an earlier undo or by hand.
void UndoRun::markTakenBack(const JournalRun& undone, qint64 undo, const RunSummary& summary) {
  const qint64 restored = summary.counts.written + summary.counts.unchanged;
  if (summary.end == RunEnd::Finished && restored == undone.entries) {
    journal_.markUndone(undone.id, undo);
  } else {
    journal_.markPartlyUndone(undone.id, restored);
  }
}
