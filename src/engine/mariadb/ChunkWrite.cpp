#include "ChunkWrite.h"

#include <QHash>
#include <algorithm>
#include <future>
#include <map>

#include "ChunkTable.h"
#include "MariaDbError.h"
#include "MariaDbRowUpdater.h"
#include "MariaDbSession.h"
#include "TellingAhead.h"
#include "Transaction.h"

namespace {

// After a failed statement of the chunk, what to do next.
ChunkAttempt failedChunk(MYSQL* mysql) {
  if (!mysql_errno(mysql)) return ChunkAttempt::Split;
  return ChunkAttemptAfter(MariaDbError(mysql));
}

}  // namespace

ChunkWrite::ChunkWrite(MariaDbSession& session, ChunkTable& table, MariaDbRowUpdater& updater,
                       const std::vector<int>& written, std::vector<QueuedRow>& writing,
                       const QByteArray& listed)
    : session_(session),
      table_(table),
      updater_(updater),
      written_(written),
      writing_(writing),
      listed_(listed) {}

ChunkAttempt ChunkWrite::write(const std::vector<std::size_t>& part, WriteObserver* observer,
                               std::vector<std::size_t>& atFault, bool inOrder) {
  if (table_.keyless()) return writeKeyless(part, observer, atFault);
  return writeKeyed(part, observer, atFault, inOrder);
}

ChunkAttempt ChunkWrite::writeKeyed(const std::vector<std::size_t>& part, WriteObserver* observer,
                                    std::vector<std::size_t>& atFault, bool inOrder) {
  MYSQL* mysql = session_.idle();
  Transaction transaction = Transaction::OpenedBy(mysql);
  std::optional<TellingAhead> ahead;
  if (!table_.derived()) {
    ahead.emplace(observer, part.size(), [this, &part](std::size_t from, std::size_t to) {
      return changesOf(part, from, to);
    });
  }
  QByteArray sql;
  if (table_.throughArrays()) {
    try {
      table_.fill(writing_, part);
    } catch (const DbError& failure) {
      return ChunkAttemptAfter(failure);
    }
    // With its entries kept, the chunk commits in the round trip that writes it, when it
    // wrote every row (each changes its row and its chunk row). The rows written leave the
    // chunk table with it; the rest, rarely, before the next chunk comes in.
    ahead->take();
    sql = Transaction::Opening +
          table_.fillingUpdate(transaction.commitWhen(
              "@klarifeld_written = " + QByteArray::number(qulonglong(2 * part.size()))));
  } else {
    std::vector<QByteArrayView> rows;
    rows.reserve(part.size());
    for (std::size_t i : part) {
      const QueuedRow& queued = writing_[i];
      rows.emplace_back(listed_.constData() + queued.from, queued.to - queued.from);
    }
    sql = table_.listedStatement(rows);
  }
  std::vector<my_ulonglong> affected;
  int status = mysql_real_query(mysql, sql.constData(), sql.size()) ? 1 : 0;
  if (status == 0) {
    do {
      affected.push_back(mysql_affected_rows(mysql));
    } while ((status = mysql_next_result(mysql)) == 0);
  }
  if (status > 0) {
    if (!mysql_errno(mysql)) return ChunkAttempt::Split;
    const DbError failure = MariaDbError(mysql);
    // A link lost on the way may have been lost after the commit.
    if (table_.throughArrays() && failure.connectionLost()) settleInDoubt(*ahead, part, failure);
    return ChunkAttemptAfter(failure);
  }
  if (transaction.committed()) {
    table_.leftRows(false);
    return settleWritten(*ahead, part);
  }
  const my_ulonglong changed = table_.throughArrays() ? affected[1] : affected.back();

  // Each row written changes its row and, but in a derived table, its chunk row.
  std::vector<std::size_t> written = part;
  if (changed != (table_.derived() ? 1 : 2) * part.size()) {
    if (table_.derived()) return ChunkAttempt::Split;
    atFault = table_.rowsNotWritten(part);
    if (!atFault.empty() && inOrder) return ChunkAttempt::Mismatch;
    std::erase_if(written, [&](std::size_t i) {
      return std::binary_search(atFault.begin(), atFault.end(), i);
    });
  }
  // What was told ahead stands only when the chunk wrote every row; else the rows written
  // are told anew.
  if (written.size() == part.size() && ahead) {
    const ChunkAttempt committed = journalAndCommit(transaction, written, *ahead);
    table_.leftRows(committed != ChunkAttempt::Written);
    return committed;
  }
  ahead.reset();
  return journalAndCommit(transaction, written, observer);
}

// The chunk of a keyless table: its rows, twins as one, are counted in the table, locked.
// Twins that stand there as often as the chunk holds them are written by one UPDATE; those
// that stand there more often (alike rows the chunk did not read, or read into another
// chunk) by one UPDATE … LIMIT each, since rows alike in every byte are interchangeable.
// Twins that stand there less often than read are named in `atFault`, to go one by one.
ChunkAttempt ChunkWrite::writeKeyless(const std::vector<std::size_t>& part, WriteObserver* observer,
                                      std::vector<std::size_t>& atFault) {
  const std::vector<std::vector<std::size_t>> twins = twinsOf(part);
  MYSQL* mysql = session_.idle();
  std::vector<std::size_t> listed;  // the rows the chunk table holds: one of each twins
  for (const std::vector<std::size_t>& alike : twins) listed.push_back(alike.front());
  const bool inMemory = table_.keylessFitsInMemory(writing_, listed);
  // The entries are kept while the server counts and writes; a chunk that does not write them
  // all settles them as not written.
  TellingAhead told = tellingAhead(observer, part);
  Transaction transaction = Transaction::OpenedBy(mysql);
  QByteArray sql;
  if (table_.throughArrays()) {
    try {
      ChunkTable::ServerNumbers(mysql, table_.keylessOpening(inMemory));
      table_.fillKeyless(writing_, twins);
    } catch (const DbError& failure) {
      return ChunkAttemptAfter(failure);
    }
    sql = table_.keylessLockedCount();
  } else {
    sql = table_.keylessCount(keylessRows(twins), inMemory);
  }
  if (mysql_real_query(mysql, sql.constData(), sql.size())) return failedChunk(mysql);
  // How often each twins stands, by its first row: the count names that row once for each.
  std::vector<qulonglong> found(writing_.size(), 0);
  int status = 0;
  do {
    if (mysql_field_count(mysql) == 0) continue;
    const ResultHandle counted(mysql_use_result(mysql));
    if (!counted) return failedChunk(mysql);
    while (const MYSQL_ROW row = mysql_fetch_row(counted.get())) {
      const std::size_t first = std::size_t(QByteArray(row[0]).toULongLong());
      if (first < found.size()) ++found[first];
    }
    if (mysql_errno(mysql)) return failedChunk(mysql);
  } while ((status = mysql_next_result(mysql)) == 0);
  if (status > 0) return failedChunk(mysql);
  std::vector<std::size_t> amongMore;  // the first rows of those twins
  qulonglong joinedRows = 0;
  for (const std::vector<std::size_t>& alike : twins) {
    const qulonglong standing = found[alike.front()];
    if (standing < alike.size()) {
      atFault.insert(atFault.end(), alike.begin(), alike.end());
    } else if (standing > alike.size()) {
      amongMore.push_back(alike.front());
    } else {
      joinedRows += alike.size();
    }
  }
  if (!atFault.empty()) {
    std::sort(atFault.begin(), atFault.end());
    return ChunkAttempt::Mismatch;
  }
  try {
    if (!writeJoined(amongMore, joinedRows) || !writeAmongMore(twins, amongMore)) {
      return ChunkAttempt::Split;
    }
  } catch (const DbError& failure) {
    return ChunkAttemptAfter(failure);
  }
  return journalAndCommit(transaction, part, told);
}

// The rows that a chunk left: their states read and locked first, then each field that
// stands as read written by one UPDATE. Each row's field results are set once committed.
ChunkAttempt ChunkWrite::writeFieldByField(const std::vector<std::size_t>& part,
                                           WriteObserver* observer) {
  // A keyless table's rows go on their own: a row not as read is not found at all.
  if (!table_.throughArrays() || table_.keyless()) return ChunkAttempt::Split;
  MYSQL* mysql = session_.idle();
  std::vector<std::vector<WriteOutcome>> results(part.size());
  std::vector<quint64> standing(part.size(), 0);  // by row of `part`: the slots that stand
  std::map<std::size_t, std::size_t> rowOf;       // the rows of `part` by their number
  for (std::size_t r = 0; r < part.size(); ++r) {
    rowOf[part[r]] = r;
    // A row the states do not name is gone.
    results[r].assign(written_.size(), WriteOutcome::Gone);
  }
  try {
    table_.fill(writing_, part);
  } catch (const DbError& failure) {
    return ChunkAttemptAfter(failure);
  }
  Transaction transaction = Transaction::Begin(mysql);
  const QByteArray& states = table_.fieldStates();
  if (mysql_real_query(mysql, states.constData(), states.size())) return failedChunk(mysql);
  {
    const ResultHandle read(mysql_store_result(mysql));
    if (!read) return failedChunk(mysql);
    constexpr WriteOutcome Stated[] = {WriteOutcome::NotWritten, WriteOutcome::Written,
                                       WriteOutcome::AlreadyThere, WriteOutcome::ChangedSince};
    while (const MYSQL_ROW row = mysql_fetch_row(read.get())) {
      const auto at = rowOf.find(std::size_t(QByteArray(row[0]).toULongLong()));
      if (at == rowOf.end()) return ChunkAttempt::Split;
      for (std::size_t slot = 0; slot < written_.size(); ++slot) {
        const int state = std::clamp(QByteArray(row[slot + 1]).toInt(), 0, 3);
        results[at->second][slot] = Stated[state];
        if (state == 1) standing[at->second] |= quint64{1} << slot;
      }
    }
  }
  std::vector<std::size_t> writes;
  std::vector<quint64> writesSlots;
  for (std::size_t r = 0; r < part.size(); ++r) {
    if (standing[r] == 0) continue;
    writes.push_back(part[r]);
    writesSlots.push_back(standing[r]);
  }
  table_.leftRows(true);
  if (!writes.empty()) {
    const QByteArray& update = table_.fieldUpdate();
    if (mysql_real_query(mysql, update.constData(), update.size())) return failedChunk(mysql);
    if (mysql_affected_rows(mysql) != writes.size()) return ChunkAttempt::Split;
  }
  TellingAhead told = tellingAhead(observer, writes, &writesSlots);
  told.take();
  try {
    transaction.commit();
  } catch (const DbError& failure) {
    if (failure.connectionLost()) settleInDoubt(told, part, failure);
    return ChunkAttemptAfter(failure);
  }
  told.settle(WriteSettled::Written);
  for (std::size_t r = 0; r < part.size(); ++r) {
    writing_[part[r]].fieldResults = std::move(results[r]);
  }
  return ChunkAttempt::Written;
}

// Rows alike in every byte, as groups of the rows of `part`.
std::vector<std::vector<std::size_t>> ChunkWrite::twinsOf(
    const std::vector<std::size_t>& part) const {
  std::vector<std::vector<std::size_t>> twins;
  QHash<QByteArrayView, std::size_t> groupOf;
  for (std::size_t i : part) {
    const QByteArrayView packed(writing_[i].packed);
    auto at = groupOf.constFind(packed);
    if (at == groupOf.cend()) {
      at = groupOf.insert(packed, twins.size());
      twins.emplace_back();
    }
    twins[at.value()].push_back(i);
  }
  return twins;
}

// The twins of the chunk table but those `amongMore`, by one UPDATE that must write `rows`
// rows: those counted and locked, and nothing else. False when it did not.
bool ChunkWrite::writeJoined(const std::vector<std::size_t>& amongMore, qulonglong rows) {
  MYSQL* mysql = session_.idle();
  if (!amongMore.empty()) {
    const QByteArray leaving = table_.keylessLeaving(amongMore);
    if (mysql_real_query(mysql, leaving.constData(), leaving.size())) throw MariaDbError(mysql);
  }
  if (rows == 0) return true;
  const QByteArray& update = table_.keylessUpdate();
  if (mysql_real_query(mysql, update.constData(), update.size())) throw MariaDbError(mysql);
  return mysql_affected_rows(mysql) == rows;
}

// Each of the twins `amongMore` into as many of the rows alike as the chunk holds of them.
bool ChunkWrite::writeAmongMore(const std::vector<std::vector<std::size_t>>& twins,
                                const std::vector<std::size_t>& amongMore) {
  const int field = written_.front();
  for (const std::vector<std::size_t>& alike : twins) {
    if (!std::binary_search(amongMore.begin(), amongMore.end(), alike.front())) continue;
    const RowValues row = UnpackedValues(writing_[alike.front()].packed);
    // The row's values, then the field's old and new value.
    const std::size_t at = updater_.identityFields().size();
    const qulonglong wrote =
        updater_.writeAlike(updater_.rowOf(row, field, row[at]), field, row[at + 1], alike.size());
    if (wrote != alike.size()) return false;
  }
  return true;
}

// Each of the twins once, with their number.
QByteArray ChunkWrite::keylessRows(const std::vector<std::vector<std::size_t>>& twins) const {
  QByteArray rows;
  for (const std::vector<std::size_t>& alike : twins) {
    const QueuedRow& first = writing_[alike.front()];
    rows += rows.isEmpty() ? "(" : ",(";
    rows += QByteArrayView(listed_.constData() + first.from, first.to - first.from);
    rows += ',' + QByteArray::number(qulonglong(alike.size())) + ')';
  }
  return rows;
}

// The rows written by the chunk's open transaction go into the journal, and then it commits.
ChunkAttempt ChunkWrite::journalAndCommit(Transaction& transaction,
                                          const std::vector<std::size_t>& rows,
                                          WriteObserver* observer) {
  TellingAhead told = tellingAhead(observer, rows);
  return journalAndCommit(transaction, rows, told);
}

ChunkAttempt ChunkWrite::journalAndCommit(Transaction& transaction,
                                          const std::vector<std::size_t>& rows,
                                          TellingAhead& told) {
  // What the observer could not keep is not written: the transaction ends unwritten with
  // its scope.
  told.take();
  try {
    transaction.commit();
  } catch (const DbError& failure) {
    // A commit on its way may have taken effect.
    if (failure.connectionLost()) settleInDoubt(told, rows, failure);
    return failure.deadlock() ? ChunkAttempt::Retry : ChunkAttempt::Split;
  }
  return settleWritten(told, rows);
}

ChunkAttempt ChunkWrite::settleWritten(TellingAhead& told, const std::vector<std::size_t>& rows) {
  told.settle(WriteSettled::Written);
  for (std::size_t i : rows) writing_[i].result = WriteOutcome::Written;
  return ChunkAttempt::Written;
}

// Throws `failure`, which lost the link while the rows' commit may have taken effect.
void ChunkWrite::settleInDoubt(TellingAhead& told, const std::vector<std::size_t>& rows,
                               const DbError& failure) {
  told.settle(WriteSettled::InDoubt);
  for (std::size_t i : rows) writing_[i].result = WriteOutcome::InDoubt;
  throw failure;
}

// The changes that writing `rows` makes, field by field, so that each field's values come
// together. Their bytes are those of the queued rows, not copies: the observer reads them
// while they are told, and the rows stay until their chunk is settled.
// The entries of `rows` (`slotMasks` as for changesOf), told a slice at a time while the
// rows travel.
TellingAhead ChunkWrite::tellingAhead(WriteObserver* observer, const std::vector<std::size_t>& rows,
                                      const std::vector<quint64>* slotMasks) const {
  return TellingAhead(observer, rows.size(),
                      [this, &rows, slotMasks](std::size_t from, std::size_t to) {
                        return changesOf(rows, from, to, slotMasks);
                      });
}

std::vector<RowChange> ChunkWrite::changesOf(const std::vector<std::size_t>& rows, std::size_t from,
                                             std::size_t to,
                                             const std::vector<quint64>* slotMasks) const {
  const auto bytes = [](std::optional<QByteArrayView> value) -> std::optional<QByteArray> {
    if (!value) return std::nullopt;
    return QByteArray::fromRawData(value->data(), value->size());
  };
  const std::size_t keys = updater_.identityFields().size();
  std::vector<RowChange> changes;
  changes.reserve(to - from);
  for (int slot = 0; slot < int(written_.size()); ++slot) {
    const RowChange shape = updater_.changeShape(written_[std::size_t(slot)]);
    for (std::size_t r = from; r < to; ++r) {
      const std::size_t i = rows[r];
      const quint64 writes = slotMasks ? (*slotMasks)[r] : writing_[i].writtenSlots;
      if (!(writes & (quint64{1} << slot))) continue;
      const QByteArray& packed = writing_[i].packed;
      RowChange& change = changes.emplace_back(shape);
      change.identity.reserve(keys);
      qsizetype at = 0;
      for (std::size_t k = 0; k < keys; ++k)
        change.identity.push_back(bytes(NextPackedValue(packed, at)));
      for (int skipped = 0; skipped < slot; ++skipped) {
        NextPackedValue(packed, at);
        NextPackedValue(packed, at);
      }
      change.before = bytes(NextPackedValue(packed, at));
      change.after = bytes(NextPackedValue(packed, at));
    }
  }
  return changes;
}
