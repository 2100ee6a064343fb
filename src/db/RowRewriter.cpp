#include "RowRewriter.h"

#include <algorithm>

#include "Connection.h"
#include "DbError.h"
#include "GroupedWriter.h"
#include "RowUpdater.h"
#include "Session.h"

namespace {

const QString TableChanged = QStringLiteral(
    "The table no longer has the key or the columns that the run found its rows by, so they "
    "cannot be found again safely. Nothing was written.");

}  // namespace

RowRewriter::RowRewriter(Connection& connection, const QString& database, const QString& table,
                         const QByteArrayList& identityColumns, bool keyed,
                         const QByteArrayList& columns)
    : session_(connection.session()) {
  fields_ = session_->tableFields(database, table);
  updater_ = session_->rowUpdater(fields_, nullptr);

  QByteArrayList found;
  for (int field : updater_->identityFields()) found << fields_.at(field).column;
  if (updater_->keyed() != keyed || found != identityColumns) throw DbError(TableChanged);
  identityFields_ = updater_->identityFields();
  for (const QByteArray& column : columns) {
    int field = 0;
    while (field < fields_.count() && fields_.at(field).column != column) ++field;
    if (field == fields_.count()) throw DbError(TableChanged);
    written_.push_back(field);
  }
  grouped_ = session_->groupedWriter(fields_, *updater_, written_, nullptr);
}

RowRewriter::~RowRewriter() = default;

std::vector<FieldBytes> RowRewriter::rowOf(const RowValues& identity, int slot,
                                           const std::optional<QByteArray>& value) const {
  if (identity.size() != identityFields_.size()) throw DbError(TableChanged);
  return updater_->rowOf(identity, written_[std::size_t(slot)], value);
}

RowRewriter::Outcome RowRewriter::rewrite(const RowValues& identity,
                                          const std::optional<QByteArray>& from,
                                          const std::optional<QByteArray>& to,
                                          WriteObserver* observer, int slot) {
  if (updater_->tryWrite(rowOf(identity, slot, from), {{written_[std::size_t(slot)], to}},
                         observer)) {
    return Outcome::Written;
  }
  return notWrittenOutcome(identity, slot, to);
}

bool RowRewriter::holds(const RowValues& identity, const std::optional<QByteArray>& value,
                        int slot) {
  return updater_->rowExists(rowOf(identity, slot, value), {written_[std::size_t(slot)]});
}

// Why a rewrite found no row holding its `from`.
RowRewriter::Outcome RowRewriter::notWrittenOutcome(const RowValues& identity, int slot,
                                                    const std::optional<QByteArray>& to) {
  const std::vector<FieldBytes> row = rowOf(identity, slot, to);
  if (updater_->rowExists(row, {written_[std::size_t(slot)]})) return Outcome::AlreadyThere;
  if (!updater_->keyed()) return Outcome::ChangedSince;
  return updater_->rowExists(row, {}) ? Outcome::ChangedSince : Outcome::Gone;
}

void RowRewriter::queue(const RowValues& identity, const std::optional<QByteArray>& from,
                        const std::optional<QByteArray>& to, int slot) {
  if (written_.size() == 1) {
    grouped_->add(0, rowOf(identity, slot, from), to);
    return;
  }
  const auto queuedAlready = [&] {
    return std::any_of(pending_->to.begin(), pending_->to.end(),
                       [slot](const auto& value) { return value.first == slot; });
  };
  if (pending_ && (pending_->identity != identity || queuedAlready())) queuePending();
  if (!pending_) pending_ = Pending{identity, RowValues(written_.size()), {}};
  pending_->from[std::size_t(slot)] = from;
  pending_->to.emplace_back(slot, to);
}

// The row being queued goes to the writer, with every column's value as read.
void RowRewriter::queuePending() {
  std::vector<FieldBytes> row = rowOf(pending_->identity, pending_->to.front().first, std::nullopt);
  for (const auto& [slot, to] : pending_->to) {
    row[std::size_t(written_[std::size_t(slot)])] = BytesOf(pending_->from[std::size_t(slot)]);
  }
  grouped_->add(0, row, pending_->to);
  pending_.reset();
}

int RowRewriter::chunkRows() const {
  return grouped_ ? grouped_->chunkRows() : 1;
}

bool RowRewriter::full() const {
  return grouped_->full();
}

void RowRewriter::flush(
    WriteObserver* observer,
    const std::function<bool(int slot, Outcome outcome, const DbError* why)>& told,
    std::atomic<bool>* rowOnItsOwn, Flushing flushing) {
  if (flushing == Flushing::UnderWayOnly) pending_.reset();
  if (pending_) queuePending();
  grouped_->flush(
      observer,
      [&](qint64, int slot, Outcome result, const DbError* why, const QByteArray& row) {
        return told(slot, result == Outcome::NotFound ? notWrittenOutcome(row, slot) : result, why);
      },
      rowOnItsOwn, false, flushing);
}

// Why a queued rewrite, as the grouped writer packs it, found no row holding its `from`.
RowRewriter::Outcome RowRewriter::notWrittenOutcome(const QByteArray& queuedRow, int slot) {
  RowValues values = UnpackedValues(queuedRow);
  const std::optional<QByteArray> to = values[identityFields_.size() + 2 * std::size_t(slot) + 1];
  values.resize(identityFields_.size());
  return notWrittenOutcome(values, slot, to);
}
