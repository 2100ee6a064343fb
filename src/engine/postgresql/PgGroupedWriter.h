#pragma once

#include <QByteArray>
#include <QSet>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ChunkSettler.h"
#include "FieldCollection.h"
#include "GroupedWriter.h"
#include "PgSession.h"

class PgRowUpdater;

// Grouped writes of one field of a keyed PostgreSQL table: a chunk's rows go by COPY into a
// temporary table, and one UPDATE … FROM writes those whose value still stands byte for
// byte as read (the single-row write's check), returning which it wrote and what each row
// holds then; they are journaled before the chunk commits. The settler splits and retries
// what an attempt leaves; while a chunk is written, the caller reads and queues the next.
class PgGroupedWriter final : public GroupedWriter, private ChunkAttempter {
 public:
  // Nothing, with `whyNot`, for a table without a key or several fields at once.
  static std::unique_ptr<PgGroupedWriter> For(PgSession& session, const FieldCollection& fields,
                                              PgRowUpdater& updater, std::vector<int> written,
                                              QString* whyNot);

  // Chunks commit as over a network also on this computer: for the tests of that way.
  static bool committingAsOverANetwork;

  using GroupedWriter::add;
  void add(qint64 tag, const std::vector<FieldBytes>& row, const NewValues& afters) override;
  // Big enough that a round trip's cost is small beside its rows', small enough that memory
  // stays flat with wide values.
  bool full() const override {
    return int(rows_.size()) >= chunkRows() || listed_.size() >= 16 * 1024 * 1024;
  }
  int chunkRows() const override { return 20000; }
  bool empty() const override { return rows_.empty() && !settler_.underWay(); }
  void flush(WriteObserver* observer, const Report& report, std::atomic<bool>* rowOnItsOwn,
             bool inOrder, Flushing flushing) override;

 private:
  PgGroupedWriter(PgSession& session, const FieldCollection& fields, PgRowUpdater& updater,
                  std::vector<int> written);
  ChunkAttempt attemptChunk(std::vector<QueuedRow>& rows, const QByteArray& listed,
                            const std::vector<std::size_t>& part, WriteObserver* observer,
                            std::vector<std::size_t>& atFault, bool inOrder) override;
  bool mayGoUnderWay(const std::vector<QueuedRow>& rows) const override;
  void appendCopyRow(std::size_t place, QByteArrayView packed);
  std::optional<ChunkAttempt> writeAndCommit(std::vector<QueuedRow>& rows, const QByteArray& listed,
                                             const std::vector<std::size_t>& part,
                                             WriteObserver* observer);
  ChunkAttempt writeThenCommit(std::vector<QueuedRow>& rows, const QByteArray& listed,
                               const std::vector<std::size_t>& part, WriteObserver* observer,
                               std::vector<std::size_t>& atFault, bool inOrder);
  PgResult send(const QByteArray& statements, const std::vector<QueuedRow>& rows,
                const QByteArray& listed, const std::vector<std::size_t>& part,
                const std::function<void()>& beforeTheEnd = {});
  QByteArray chunkStatements(std::optional<std::size_t> committing = {}) const;
  static std::vector<std::size_t> placesOf(const PGresult* written);
  std::vector<RowChange> changesOf(const PGresult* written,
                                   const std::vector<QueuedRow>& rows) const;
  std::vector<RowChange> changesAhead(const std::vector<QueuedRow>& rows,
                                      const std::vector<std::size_t>& part) const;

  PgSession& session_;
  const FieldCollection& fields_;
  PgRowUpdater& updater_;
  std::vector<int> written_;         // the one field written
  bool keepsWhatIsWritten_ = false;  // its entries are known before the rows are written
  bool commitsOnTheServer_ = false;  // a chunk commits in the round trip that writes it
  std::vector<QueuedRow> rows_;
  QByteArray listed_;      // the rows of the chunk so far, as COPY lists them
  QSet<QByteArray> keys_;  // of the chunk so far, packed
  // Last, so that a chunk under way ends before anything it uses.
  ChunkSettler settler_;
};
