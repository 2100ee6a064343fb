#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

#include "ChunkKeys.h"
#include "ChunkRows.h"
#include "FieldCollection.h"
#include "GroupedWriter.h"

class ChunkTable;
class MariaDbRowUpdater;
class MariaDbSession;

// The grouped writes of MariaDB: it queues the rows into chunks, has each chunk written
// (ChunkWrite, through a ChunkTable), and settles what each attempt leaves: a row that no
// longer stands as read is written on its own; a chunk that the server refuses (a locked
// row, a value too long) is split in halves, and halves again; a chunk lost to a deadlock
// is tried again. While a chunk is written, the caller may read and queue the next one.
class MariaDbGroupedWriter final : public GroupedWriter {
 public:
  // Nothing when the table's rows cannot be written in groups: a server other than
  // MariaDB, or a key or field that only the single-row write compares rightly (FLOAT,
  // BIT); or when the session may not make temporary tables and a derived table cannot
  // carry the key's type (or the table has no key), and then `whyNot` says why, for the
  // user. Several fields (`written`, whose slots are their places in it) go together only
  // in a table with a key that none of them is part of.
  static std::unique_ptr<MariaDbGroupedWriter> For(MariaDbSession& session,
                                                   const FieldCollection& fields,
                                                   MariaDbRowUpdater& updater,
                                                   std::vector<int> written,
                                                   QString* whyNot = nullptr);
  ~MariaDbGroupedWriter() override;

  using GroupedWriter::add;
  void add(qint64 tag, const std::vector<FieldBytes>& row, const NewValues& afters) override;
  bool full() const override;
  int chunkRows() const override;
  bool empty() const override { return rows_.empty() && !inFlight_.aside(); }
  void flush(WriteObserver* observer, const Report& report,
             std::atomic<bool>* rowOnItsOwn = nullptr, bool inOrder = true,
             Flushing flushing = Flushing::Everything) override;

 private:
  using Attempted = ChunkAttempted;
  struct Flush;

  MariaDbGroupedWriter(MariaDbSession& session, const FieldCollection& fields,
                       MariaDbRowUpdater& updater, std::vector<int> written,
                       std::unique_ptr<ChunkTable> table);
  void writeInOrder(const std::vector<std::size_t>& part, Flush& flush);
  Attempted attemptChunk(const std::vector<std::size_t>& part, WriteObserver* observer,
                         bool inOrder);
  void settle(const std::vector<std::size_t>& part, const Attempted& tried, Flush& flush);
  bool mayGoUnderWay() const;
  std::vector<std::size_t> allWriting() const;
  void finishUnderWay(Flush& flush);
  void writeAlone(std::size_t i, Flush& flush);
  void tell(std::size_t i, Result result, Flush& flush);
  void tellSlot(std::size_t i, int slot, Result result, const DbError* why, Flush& flush);
  qsizetype chunkBytes() const;
  QueuedRow& writing(std::size_t i) { return inFlight_.rows()[i]; }
  Result writeOne(const QueuedRow& queued, int slot, WriteObserver* observer,
                  std::optional<DbError>& why, std::atomic<bool>* underway);

  MariaDbSession& session_;
  const FieldCollection& fields_;
  MariaDbRowUpdater& updater_;
  std::vector<int> written_;  // the fields written, by slot
  std::unique_ptr<ChunkTable> table_;
  std::vector<QueuedRow> rows_;                         // queued
  std::vector<std::optional<QByteArrayView>> packing_;  // the values of the row being queued
  // The chunk's rows so far, each as a statement lists them; through arrays, only the size
  // of their packed values counts.
  QByteArray listed_;
  qsizetype insertBytes_ = 0;
  // Of several fields: the keys of the rows of the chunk so far (in their packed values in
  // rows_), so that a row queued twice does not meet its own other values in one UPDATE.
  ChunkKeys chunkKeys_;
  // Being written, or under way while the caller queues the next; last, so that it ends
  // before anything it uses.
  ChunkInFlight inFlight_;
};
