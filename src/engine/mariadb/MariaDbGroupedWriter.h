#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

#include "ChunkKeys.h"
#include "ChunkSettler.h"
#include "FieldCollection.h"
#include "GroupedWriter.h"

class ChunkTable;
class MariaDbRowUpdater;
class MariaDbSession;

// The grouped writes of MariaDB: it queues the rows into chunks and has each chunk written
// (ChunkWrite, through a ChunkTable); the settler splits and retries what an attempt
// leaves. While a chunk is written through arrays, the caller may read and queue the next.
class MariaDbGroupedWriter final : public GroupedWriter, private ChunkAttempter {
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
  bool empty() const override { return rows_.empty() && !settler_.underWay(); }
  void flush(WriteObserver* observer, const Report& report,
             std::atomic<bool>* rowOnItsOwn = nullptr, bool inOrder = true,
             Flushing flushing = Flushing::Everything) override;

 private:
  MariaDbGroupedWriter(MariaDbSession& session, const FieldCollection& fields,
                       MariaDbRowUpdater& updater, std::vector<int> written,
                       std::unique_ptr<ChunkTable> table);
  ChunkAttempt attemptChunk(std::vector<QueuedRow>& rows, const QByteArray& listed,
                            const std::vector<std::size_t>& part, WriteObserver* observer,
                            std::vector<std::size_t>& atFault, bool inOrder) override;
  ChunkAttempt attemptFieldByField(std::vector<QueuedRow>& rows,
                                   const std::vector<std::size_t>& part,
                                   WriteObserver* observer) override;
  bool mayGoUnderWay(const std::vector<QueuedRow>& rows) const override;
  qsizetype chunkBytes() const;

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
  // Last, so that a chunk under way ends before anything it uses.
  ChunkSettler settler_;
};
