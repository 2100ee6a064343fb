#include "UndoRun.h"

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
    connection.Open(connectionString_);
    return connection.clusterId() == run.cluster;
  } catch (const DbError&) {
    return false;  // refused as another server; the link's failure is told by the undo
  }
}

UndoRun::UndoRun(Journal& journal, qint64 runId, QString connectionString, Dialogs& dialogs,
                 RunWatcher& watcher)
    : journal_(journal),
      runId_(runId),
      connectionString_(connectionString),
      dialogs_(dialogs),
      rewrites_(journal, std::move(connectionString), dialogs, watcher) {}

// A run that is gone, taken back already, wrote nothing or was made elsewhere is told
// so and left.
bool UndoRun::refusesTheRun() {
  const std::optional<JournalRun> run = journal_.run(runId_);
  QString refusal;
  if (!run) {
    refusal = QStringLiteral("This run is no longer in the journal.");
  } else if (run->undoneBy) {
    refusal = QStringLiteral("This run was undone already, by run %1.").arg(run->undoneBy);
  } else if (run->entries == 0 || run->identityColumns.isEmpty()) {
    refusal = QStringLiteral("This run wrote nothing, so there is nothing to undo.");
  } else if (!sameServer(*run, ParseConnectionString(connectionString_)) && !sameCluster(*run)) {
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
  return {.table = undone.database + u'.' + undone.table,
          .field = undone.field,
          .operation = QStringLiteral("Undo Run %1 (%2)").arg(undone.id).arg(undone.operation),
          .answers = undone.answers};
}

std::unique_ptr<ChangePreview> UndoRun::preview() {
  if (refusesTheRun()) return nullptr;
  const JournalRun undone = *journal_.run(runId_);
  const RewriteTarget target{undone.database, undone.table, undone.identityColumns, undone.keyed,
                             undone.column};
  try {
    Connection connection;
    connection.Open(connectionString_);
    RowRewriter rows(connection, target.database, target.table, target.identityColumns,
                     target.keyed, target.column);
    auto preview = std::make_unique<ChangePreview>(description(undone), target, false);
    const auto bytes = [](const std::optional<QByteArray>& value) {
      return value ? QByteArrayView(*value) : QByteArrayView();
    };
    qint64 position = 0;
    journal_.forEachEntry(undone.id, [&](const JournalEntry& entry) {
      ++preview->counts.read;
      if (rows.holds(entry.identity, entry.after)) {
        preview->add(position, PackedValues(entry.identity), bytes(entry.after),
                     bytes(entry.before), false);
      } else {
        ++preview->counts.unchanged;  // changed since the run, or back already
      }
      ++position;
    });
    return preview;
  } catch (const DbError& failure) {
    dialogs_.message(QString::fromUtf8(failure.what()));
    return nullptr;
  }
}

void UndoRun::run() {
  if (refusesTheRun()) return;
  const JournalRun undone = *journal_.run(runId_);
  const RunDescription description = this->description(undone);
  JournalRun journaled = JournalRunOf(description, ParseConnectionString(connectionString_));
  journaled.database = undone.database;
  journaled.table = undone.table;
  journaled.undoes = undone.id;
  const RewriteTarget target{undone.database, undone.table, undone.identityColumns, undone.keyed,
                             undone.column};
  // The run's new value is what must still stand; its old value goes back.
  const RewriteSource entries = [&](const std::function<void(const Rewrite&)>& visit) {
    journal_.forEachEntry(undone.id, [&](const JournalEntry& entry) {
      visit({entry.identity, entry.after, entry.before});
    });
  };
  const std::optional<qint64> undo =
      rewrites_.run(target, journaled, description, undone.entries, entries);
  if (!undo) return;
  // A row whose old value stood already came back too, by an earlier undo or by hand.
  const RunCounts& counts = rewrites_.summary().counts;
  const qint64 restored = counts.written + counts.unchanged;
  if (rewrites_.summary().end == RunEnd::Finished && restored == undone.entries) {
    journal_.markUndone(undone.id, *undo);
  } else {
    journal_.markPartlyUndone(undone.id, restored);
  }
}
