#pragma once

#include <QByteArray>
#include <QSet>
#include <memory>
#include <optional>
#include <vector>

#include "FieldCollection.h"
#include "GroupedWriter.h"

class PgRowUpdater;
class PgSession;

// Grouped writes of one field of a keyed PostgreSQL table: a chunk's rows go by COPY into a
// temporary table, and one UPDATE … FROM writes those whose value still stands byte for
// byte as read (the single-row write's check), returning which it wrote and what each row
// holds then; they are journaled before the chunk commits. A row that no longer stands is
// told NotFound; a chunk the server refuses is written row by row, so that the row at fault
// is told on its own; one lost to a deadlock is tried again.
class PgGroupedWriter final : public GroupedWriter {
 public:
  // Nothing, with `whyNot`, for a table without a key or several fields at once.
  static std::unique_ptr<PgGroupedWriter> For(PgSession& session, const FieldCollection& fields,
                                              PgRowUpdater& updater, std::vector<int> written,
                                              QString* whyNot);

  using GroupedWriter::add;
  void add(qint64 tag, const std::vector<FieldBytes>& row, const NewValues& afters) override;
  bool full() const override { return int(rows_.size()) >= chunkRows(); }
  int chunkRows() const override { return 5000; }
  bool empty() const override { return rows_.empty(); }
  void flush(WriteObserver* observer, const Report& report, std::atomic<bool>* rowOnItsOwn,
             bool inOrder, Flushing flushing) override;

 private:
  struct Row {
    qint64 tag;
    RowValues key;  // as read
    std::optional<QByteArray> before, after;
    QByteArray packed;   // as told: its key values, its old value and its new one
    bool alone = false;  // its key queued before in this chunk: written on its own
    Result result = Result::NotWritten;
    std::optional<DbError> why;
  };
  PgGroupedWriter(PgSession& session, const FieldCollection& fields, PgRowUpdater& updater,
                  int field);
  // Writes the rows not alone in one transaction; false when the server refused the chunk.
  bool writeChunk(WriteObserver* observer);
  QByteArray copyData() const;
  void load();
  void writeAlone(Row& row, WriteObserver* observer, std::atomic<bool>* rowOnItsOwn);

  PgSession& session_;
  const FieldCollection& fields_;
  PgRowUpdater& updater_;
  int field_;
  std::vector<Row> rows_;
  QSet<QByteArray> keys_;  // of the chunk so far, packed
};
