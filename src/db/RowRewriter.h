#pragma once

#include <QByteArrayList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "DbError.h"
#include "FieldCollection.h"
#include "GroupedWriter.h"
#include "RowChange.h"
#include "RowSource.h"

class Connection;
class RowUpdater;
class Session;

// Writes values into rows found again by an identity kept from an earlier reading: their
// key, or, in a table without a key, the whole row. A value is written only where the
// expected value still stands, byte for byte: how an undo puts old values back and an
// applied preview writes its new ones. The values are of one column, or of several columns
// of a keyed table that go together, each row once with all its values; a column's `slot`
// is its place among those given.
class RowRewriter {
 public:
  // Written, AlreadyThere, ChangedSince or Gone; of grouped rewrites also Refused,
  // NotWritten or InDoubt.
  using Outcome = WriteOutcome;

  // Throws DbError when the table no longer has the key or the columns that the run
  // found its rows by: its rows could not be found again safely.
  RowRewriter(Connection& connection, const QString& database, const QString& table,
              const QByteArrayList& identityColumns, bool keyed, const QByteArrayList& columns);
  ~RowRewriter();

  // Writes `to` into the row of `identity` where `from` stands. In a table without a key,
  // `identity` is the row as read, its field holding `from`.
  Outcome rewrite(const RowValues& identity, const std::optional<QByteArray>& from,
                  const std::optional<QByteArray>& to, WriteObserver* observer, int slot = 0);

  // Whether the row of `identity` holds `value` now, byte for byte.
  bool holds(const RowValues& identity, const std::optional<QByteArray>& value, int slot = 0);

  // In a keyed table rewrites are queued and written in chunks by flush, the outcome of
  // each told then; else each is written by rewrite at once. Several columns are grouped
  // together or not at all.
  bool grouped() const { return grouped_ != nullptr; }
  // The most rows that one chunk holds, when grouped.
  int chunkRows() const;
  // The rewrites of one row's columns are queued one after another; a row's column queued
  // again, or after another row, starts the row anew.
  void queue(const RowValues& identity, const std::optional<QByteArray>& from,
             const std::optional<QByteArray>& to, int slot = 0);
  bool full() const;
  // Writes the queued rewrites, telling each one's outcome in order (and for Refused, why);
  // `told` returning false leaves the rest unwritten, but for the rows of a chunk written
  // already: a rewrite's outcomes are counted, not shown one by one. `rowOnItsOwn`,
  // `flushing` and what it throws are as in GroupedWriter::flush.
  using Flushing = GroupedWriter::Flushing;
  void flush(WriteObserver* observer,
             const std::function<bool(int slot, Outcome outcome, const DbError* why)>& told,
             std::atomic<bool>* rowOnItsOwn = nullptr, Flushing flushing = Flushing::Everything);

 private:
  std::shared_ptr<Session> session_;
  FieldCollection fields_;
  std::vector<FieldBytes> rowOf(const RowValues& identity, int slot,
                                const std::optional<QByteArray>& value) const;
  Outcome notWrittenOutcome(const QByteArray& queuedRow, int slot);
  Outcome notWrittenOutcome(const RowValues& identity, int slot,
                            const std::optional<QByteArray>& to);
  void queuePending();

  std::unique_ptr<RowUpdater> updater_;
  std::unique_ptr<GroupedWriter> grouped_;
  std::vector<int> identityFields_;
  std::vector<int> written_;  // the columns' fields, by slot
  // The row being queued: its identity, and its columns' values so far.
  struct Pending {
    RowValues identity;
    std::vector<std::optional<QByteArray>> from;
    std::vector<std::pair<int, std::optional<QByteArray>>> to;  // by slot, as queued
  };
  std::optional<Pending> pending_;
};
