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
      table_(std::move(table)),
      settler_(*this, updater, written_) {}

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
      queued.inChunk = true;
      queued.from = mark;
      queued.to = chunkBytes();
      if (several) chunkKeys_.insert(key);
    }
  }
  if (!queued.inChunk) chunkKeys_.clear();  // the chunk so far is written before this row
  rows_.push_back(std::move(queued));
}

bool MariaDbGroupedWriter::full() const {
  return qsizetype(rows_.size()) >= table_->maxRows() || chunkBytes() >= table_->maxBytes() / 2;
}

void MariaDbGroupedWriter::flush(WriteObserver* observer, const Report& report,
                                 std::atomic<bool>* rowOnItsOwn, bool inOrder, Flushing flushing) {
  const auto emptied = qScopeGuard([this] {
    rows_.clear();
    listed_.clear();
    insertBytes_ = 0;
    chunkKeys_.clear();
  });
  settler_.flush(std::move(rows_), std::move(listed_), observer, report, rowOnItsOwn, inOrder,
                 flushing);
}

ChunkAttempt MariaDbGroupedWriter::attemptChunk(std::vector<QueuedRow>& rows,
                                                const QByteArray& listed,
                                                const std::vector<std::size_t>& part,
                                                WriteObserver* observer,
                                                std::vector<std::size_t>& atFault, bool inOrder) {
  return ChunkWrite(session_, *table_, updater_, written_, rows, listed)
      .write(part, observer, atFault, inOrder);
}

// When they all share a chunk, go through arrays, and the session is not reading.
ChunkAttempt MariaDbGroupedWriter::attemptFieldByField(std::vector<QueuedRow>& rows,
                                                       const std::vector<std::size_t>& part,
                                                       WriteObserver* observer) {
  // The rows were listed for their chunk already; this attempt fills the chunk table anew.
  return ChunkWrite(session_, *table_, updater_, written_, rows, {})
      .writeFieldByField(part, observer);
}

bool MariaDbGroupedWriter::mayGoUnderWay(const std::vector<QueuedRow>& rows) const {
  return table_->throughArrays() && !table_->keyless() && !rows.empty() && session_.idleNow() &&
         std::all_of(rows.begin(), rows.end(),
                     [](const QueuedRow& queued) { return queued.inChunk; });
}
