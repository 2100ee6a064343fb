#include "MariaDbGroupedWriter.h"

#include <QScopeGuard>
#include <algorithm>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>

#include "ChunkTable.h"
#include "ChunkWrite.h"
#include "MariaDbRowUpdater.h"
#include "MariaDbSession.h"

namespace {

// How often a chunk lost to a deadlock is tried in all.
constexpr int ChunkAttempts = 4;
// A refused chunk is split in halves down to this size; then its rows go on their own.
constexpr std::size_t SmallestSplit = 8;

std::optional<QByteArrayView> viewOf(const FieldBytes& value) {
  if (value.null) return std::nullopt;
  return QByteArrayView(value.data, qsizetype(value.length));
}

}  // namespace

std::unique_ptr<MariaDbGroupedWriter> MariaDbGroupedWriter::For(MariaDbSession& session,
                                                                const FieldCollection& fields,
                                                                MariaDbRowUpdater& updater,
                                                                std::vector<int> written,
                                                                QString* whyNot) {
  if (updater.readsBack()) {
    if (whyNot) {
      *whyNot = QStringLiteral(
          "a trigger of the table may change a value as it is written, so each one is read "
          "back for the journal");
    }
    return nullptr;
  }
  // The chunk's statements use MariaDB's own forms (SET STATEMENT, CREATE OR REPLACE).
  if (!QByteArray(mysql_get_server_info(session.idle())).contains("MariaDB")) return nullptr;
  const std::vector<int>& identity = updater.identityFields();
  const auto onlyFoundOneByOne = [&](int f) { return !updater.comparesAsBytes(f); };
  if (std::any_of(identity.begin(), identity.end(), onlyFoundOneByOne) ||
      std::any_of(written.begin(), written.end(), onlyFoundOneByOne) ||
      fields.at(written.front()).table.isEmpty()) {
    if (!updater.keyed() && whyNot) {
      *whyNot = QStringLiteral(
          "the table has no primary or unique key, and a FLOAT or BIT column of it finds its "
          "row only one by one");
    }
    return nullptr;
  }
  // Fields that find the rows are written one after the other: the later ones find their
  // rows by the earlier ones' new values.
  const auto findsRows = [&](int f) {
    return std::find(identity.begin(), identity.end(), f) != identity.end();
  };
  if (written.size() > 1 && (written.size() > MaxFields || !updater.keyed() ||
                             std::any_of(written.begin(), written.end(), findsRows))) {
    return nullptr;
  }
  std::unique_ptr<ChunkTable> table = ChunkTable::Make(session, fields, updater, written, whyNot);
  if (!table) return nullptr;
  return std::unique_ptr<MariaDbGroupedWriter>(
      new MariaDbGroupedWriter(session, fields, updater, std::move(written), std::move(table)));
}

MariaDbGroupedWriter::MariaDbGroupedWriter(MariaDbSession& session, const FieldCollection& fields,
                                           MariaDbRowUpdater& updater, std::vector<int> written,
                                           std::unique_ptr<ChunkTable> table)
    : session_(session),
      fields_(fields),
      updater_(updater),
      written_(std::move(written)),
      table_(std::move(table)) {}

MariaDbGroupedWriter::~MariaDbGroupedWriter() = default;

int MariaDbGroupedWriter::chunkRows() const {
  return table_->maxRows();
}

qsizetype MariaDbGroupedWriter::chunkBytes() const {
  return table_->throughArrays() ? insertBytes_ : listed_.size();
}

void MariaDbGroupedWriter::add(qint64 tag, const std::vector<FieldBytes>& row,
                               const NewValues& afters) {
  ChunkTable::SlotValues afterOf(written_.size(), nullptr);
  QueuedRow queued;
  queued.tag = tag;
  for (const auto& [slot, after] : afters) {
    afterOf[std::size_t(slot)] = &after;
    queued.writtenSlots |= quint64{1} << slot;
  }
  // The key values, then each field's old and new value (nulls for a field kept), packed
  // in room made for them all at once.
  std::vector<std::optional<QByteArrayView>>& values = packing_;
  values.clear();
  for (int key : updater_.identityFields()) values.push_back(viewOf(row[std::size_t(key)]));
  const std::size_t keys = values.size();
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    const std::optional<QByteArray>* after = afterOf[slot];
    values.push_back(after ? viewOf(row[std::size_t(written_[slot])]) : std::nullopt);
    values.push_back(after && *after ? std::optional<QByteArrayView>(**after) : std::nullopt);
  }
  qsizetype bytes = 0;
  for (const std::optional<QByteArrayView>& value : values) bytes += PackedSize(value);
  queued.packed.reserve(bytes);
  qsizetype keyBytes = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    AppendPackedValue(queued.packed, values[i]);
    if (i + 1 == keys) keyBytes = queued.packed.size();
  }
  // Of several fields, a row queued again goes on its own: one UPDATE writes a row once.
  const bool several = written_.size() > 1;
  // The key's bytes stay where they are when the row moves into the queue.
  const QByteArrayView key = QByteArrayView(queued.packed).first(keyBytes);
  if (table_->fits(row, afterOf) && !(several && chunkKeys_.contains(key))) {
    const qsizetype mark = chunkBytes();
    if (table_->throughArrays()) {
      insertBytes_ += queued.packed.size();
    } else {
      table_->appendRow(listed_, qsizetype(rows_.size()), row, afterOf);
    }
    // A row too big to share a chunk is written on its own.
    if (chunkBytes() - mark > table_->maxBytes() / 2) {
      listed_.truncate(mark);
      insertBytes_ = mark;
    } else {
      queued.from = mark;
      queued.to = chunkBytes();
      if (several) chunkKeys_.insert(key);
    }
  }
  if (!queued.inChunk()) chunkKeys_.clear();  // the chunk so far is written before this row
  rows_.push_back(std::move(queued));
}

bool MariaDbGroupedWriter::full() const {
  return qsizetype(rows_.size()) >= table_->maxRows() || chunkBytes() >= table_->maxBytes() / 2;
}

// What a flush carries from row to row.
struct MariaDbGroupedWriter::Flush {
  WriteObserver* observer;
  const Report& report;
  std::atomic<bool>* rowOnItsOwn;
  bool inOrder;
  bool goOn = true;
  std::optional<DbError> ended;
};

void MariaDbGroupedWriter::flush(WriteObserver* observer, const Report& report,
                                 std::atomic<bool>* rowOnItsOwn, bool inOrder, Flushing flushing) {
  const auto emptied = qScopeGuard([this] {
    rows_.clear();
    listed_.resize(0);  // its room stays, for the next chunk
    insertBytes_ = 0;
    chunkKeys_.clear();
  });
  Flush flush{observer, report, rowOnItsOwn, inOrder, true, std::nullopt};
  if (inFlight_.aside()) finishUnderWay(flush);
  if (flushing == Flushing::UnderWayOnly) {
    if (flush.ended) throw *flush.ended;
    return;
  }
  inFlight_.take(std::move(rows_));
  if (flushing == Flushing::MayLeaveUnderWay && flush.goOn && mayGoUnderWay()) {
    inFlight_.attemptAside(
        [this, observer, inOrder] { return attemptChunk(allWriting(), observer, inOrder); });
    return;
  }
  std::vector<std::size_t> chunk;
  for (std::size_t i = 0; i < inFlight_.rows().size(); ++i) {
    if (writing(i).inChunk()) {
      chunk.push_back(i);
      continue;
    }
    writeInOrder(chunk, flush);
    chunk.clear();
    writeAlone(i, flush);
  }
  writeInOrder(chunk, flush);
  inFlight_.letGo();
  if (flush.ended) throw *flush.ended;
}

// Whether the rows just taken for writing may go as one chunk while the caller queues
// the next: when they all share it, go through arrays, and the session is not reading.
bool MariaDbGroupedWriter::mayGoUnderWay() const {
  return table_->throughArrays() && !table_->keyless() && !inFlight_.rows().empty() &&
         session_.idleNow() &&
         std::all_of(inFlight_.rows().begin(), inFlight_.rows().end(),
                     [](const QueuedRow& queued) { return queued.inChunk(); });
}

std::vector<std::size_t> MariaDbGroupedWriter::allWriting() const {
  std::vector<std::size_t> all(inFlight_.rows().size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  return all;
}

// Waits for the chunk under way and tells its rows, writing those that it left on their
// own, as a chunk written at once would have.
void MariaDbGroupedWriter::finishUnderWay(Flush& flush) {
  Attempted tried;
  try {
    tried = inFlight_.finish();
  } catch (const DbError& failure) {
    flush.ended = failure;
    flush.goOn = false;
  }
  settle(allWriting(), tried, flush);
  inFlight_.letGo();
}

// Writes the chunk rows of `part` and tells each one's result in order: grouped where
// they stand as read, and else split around the rows at fault, which go on their own, so
// that no row after one told is written before the caller could stop.
void MariaDbGroupedWriter::writeInOrder(const std::vector<std::size_t>& part, Flush& flush) {
  if (part.empty()) return;
  Attempted tried;
  if (flush.goOn) {
    try {
      tried = attemptChunk(part, flush.observer, flush.inOrder);
    } catch (const DbError& failure) {
      flush.ended = failure;
      flush.goOn = false;
    }
  }
  settle(part, tried, flush);
}

MariaDbGroupedWriter::Attempted MariaDbGroupedWriter::attemptChunk(
    const std::vector<std::size_t>& part, WriteObserver* observer, bool inOrder) {
  Attempted tried;
  for (int attempt = 1;; ++attempt) {
    tried.atFault.clear();
    try {
      tried.attempt = ChunkWrite(session_, *table_, updater_, written_, inFlight_.rows(), listed_)
                          .write(part, observer, tried.atFault, inOrder);
    } catch (const DbError& failure) {
      // A cluster aborts a transaction that lost to another node's between its statements
      // too: the next one, whichever it is, says deadlock, and the chunk goes again.
      if (!failure.deadlock()) throw;
      tried.attempt = ChunkAttempt::Retry;
    }
    if (tried.attempt != ChunkAttempt::Retry || attempt == ChunkAttempts) return tried;
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt));
  }
}

// Tells the rows of `part` after the attempt at their chunk, and writes those it left.
void MariaDbGroupedWriter::settle(const std::vector<std::size_t>& part, const Attempted& tried,
                                  Flush& flush) {
  if (!flush.goOn) {
    for (std::size_t i : part) tell(i, writing(i).result.value_or(Result::NotWritten), flush);
    return;
  }
  if (tried.attempt == ChunkAttempt::Written) {
    // Rows that the chunk left, no longer as read, are told on their own.
    for (std::size_t i : part) {
      if (writing(i).result) {
        tell(i, *writing(i).result, flush);
      } else {
        writeAlone(i, flush);
      }
    }
    return;
  }
  if (tried.attempt == ChunkAttempt::Mismatch) {
    std::vector<std::size_t> standing;
    for (std::size_t i : part) {
      if (!std::binary_search(tried.atFault.begin(), tried.atFault.end(), i)) {
        standing.push_back(i);
        continue;
      }
      writeInOrder(standing, flush);
      standing.clear();
      writeAlone(i, flush);
    }
    writeInOrder(standing, flush);
    return;
  }
  if (part.size() <= SmallestSplit || tried.attempt == ChunkAttempt::Retry) {
    for (std::size_t i : part) writeAlone(i, flush);
    return;
  }
  const auto middle = part.begin() + std::ptrdiff_t(part.size() / 2);
  writeInOrder({part.begin(), middle}, flush);
  writeInOrder({middle, part.end()}, flush);
}

// Each field of the row on its own, so that each is told on its own.
void MariaDbGroupedWriter::writeAlone(std::size_t i, Flush& flush) {
  for (int slot = 0; slot < int(written_.size()); ++slot) {
    if (!writing(i).writes(slot)) continue;
    Result result = Result::NotWritten;
    std::optional<DbError> why;
    if (flush.goOn) {
      try {
        result = writeOne(writing(i), slot, flush.observer, why, flush.rowOnItsOwn);
      } catch (const DbError& failure) {
        if (failure.connectionLost()) result = Result::InDoubt;
        flush.ended = failure;
        flush.goOn = false;
      }
    }
    tellSlot(i, slot, result, why ? &*why : nullptr, flush);
  }
}

// The result of a row's chunk, told for each of its fields.
void MariaDbGroupedWriter::tell(std::size_t i, Result result, Flush& flush) {
  for (int slot = 0; slot < int(written_.size()); ++slot) {
    if (writing(i).writes(slot)) tellSlot(i, slot, result, nullptr, flush);
  }
}

void MariaDbGroupedWriter::tellSlot(std::size_t i, int slot, Result result, const DbError* why,
                                    Flush& flush) {
  flush.goOn = flush.report(writing(i).tag, slot, result, why, writing(i).packed) && flush.goOn;
}

MariaDbGroupedWriter::Result MariaDbGroupedWriter::writeOne(const QueuedRow& queued, int slot,
                                                            WriteObserver* observer,
                                                            std::optional<DbError>& why,
                                                            std::atomic<bool>* underway) {
  // The row's key values, then each field's old and new value.
  const RowValues row = UnpackedValues(queued.packed);
  const std::size_t at = updater_.identityFields().size() + 2 * std::size_t(slot);
  const int field = written_[std::size_t(slot)];
  if (underway) *underway = true;
  const auto done = qScopeGuard([underway] {
    if (underway) *underway = false;
  });
  try {
    const bool written =
        updater_.tryWrite(updater_.rowOf(row, field, row[at]), {{field, row[at + 1]}}, observer);
    return written ? Result::Written : Result::NotFound;
  } catch (const DbError& failure) {
    if (failure.connectionLost() || failure.interrupted()) throw;
    why = failure;
    return Result::Refused;
  }
}
