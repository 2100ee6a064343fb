#pragma once

#include "ConnectionString.h"
#include "Journal.h"
#include "RunProgress.h"

#include <memory>
#include <span>
#include <utility>
#include <vector>

class Connection;
class Dialogs;

// The Galera cluster of the server that `connection` is open on; empty when it is on its
// own, or when that cannot be told.
QString ClusterOf(const Connection* connection);
// A run as the journal keeps it: what it does and where, begun now.
JournalRun JournalRunOf(const RunDescription& run, const ConnectionAttributes& connection);
// The journal's record of how run `id` ended.
JournalRun JournalRunEnded(qint64 id, const RunSummary& summary);
// Keeps how run `id` ended; when the journal cannot, says so in a box and marks the
// summary.
void EndJournalRun(Journal& journal, qint64 id, RunSummary& summary, Dialogs& dialogs);
// What the journal found damaged as it opened, in one message; empty when nothing was.
QString DamagedSpoolsText(const Journal& journal);
// "database.table.field"; for a recipe's run "database: table.field, table.field"
QString JournalRunWhere(const JournalRun& run);
// The operation, and its answers when it asked for any.
QString JournalRunOperation(const JournalRun& run);
// How a journaled run ended, in a few words: "finished", "stopped by you", ...
QString JournalEndText(const QString& end);
// The rows a journaled run wrote: "1,200", "1,200 + 3 in doubt".
QString JournalWrittenText(const JournalRun& run);
// Whether and how it was taken back: "undone by run 7", "partly undone (3 of 4)",
// "undoes run 2", or nothing.
QString JournalUndoneText(const JournalRun& run);

// Fields written together tell their values as one: each value goes to the journal of its
// field's run. By column, the run that journals it.
class PartRecorders final : public WriteObserver {
 public:
  PartRecorders(Journal& journal, const std::vector<std::pair<QByteArray, qint64>>& runs);
  void aboutToWrite(const RowChange& change) override;
  // Each column's values come together (as GroupedWriter tells them): one record each.
  void aboutToWriteAll(std::span<const RowChange> changes) override;
  void settled(WriteSettled how, const std::optional<QByteArray>* holds) override;
  // Why a journal failed; empty while they keep up.
  QString failure() const;
  bool failed() const;

 private:
  struct Recorder {
    QByteArray column;
    std::unique_ptr<JournalRecorder> recorder;
    bool told = false;
  };
  JournalRecorder& told(const QByteArray& column);
  std::vector<Recorder> recorders_;
};
