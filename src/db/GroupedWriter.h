#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "DbError.h"
#include "FieldCollection.h"
#include "RowChange.h"
#include "RowSource.h"

class RowUpdater;
class Session;

// Writes one field of many rows of a keyed table in chunks, two round trips and one
// transaction each, instead of a round trip and a commit per row. A chunk's rows go into
// a temporary table on the session (or, for a session that may not make one, travel
// inside the UPDATE as a derived table), and one UPDATE … JOIN writes, without waiting for a
// lock, each row whose key matches and whose field still holds, byte for byte, the value
// that was read: the condition of the single-row write. Only when it wrote every row is
// the chunk journaled and committed. Otherwise, or when the server refuses the chunk, it
// is rolled back and written row by row as ever, so that each row not written is told on
// its own and rows after it wait until it is told. A chunk lost to a deadlock is tried
// again.
class GroupedWriter {
 public:
  enum class Result {
    Written,
    NotFound,    // the row is gone, or its value changed since it was read
    Refused,     // the server refused this row's value; `why` says how
    NotWritten,  // the write was cancelled, the link broke first, or the caller stopped
    InDoubt,     // the link broke while its write or commit was on its way
  };
  // Told of each row as soon as its result is known, with the row as queued: its key
  // values, old value and new value, packed as PackedValues packs them. Returning false
  // leaves the rows not yet written unwritten.
  using Report =
      std::function<bool(qint64 tag, Result result, const DbError* why, const QByteArray& row)>;

  // Nothing when the table's rows cannot be written in groups: a server other than
  // MariaDB, no usable key, or a key or field that only the single-row write compares
  // rightly (FLOAT, BIT); or when the session may not make temporary tables and a derived
  // table cannot carry the key's type, and then `whyNot` says why, for the user.
  static std::unique_ptr<GroupedWriter> For(Session& session, const FieldCollection& fields,
                                            RowUpdater& updater, int field,
                                            QString* whyNot = nullptr);
  ~GroupedWriter();

  // Queues `after` for the row that `row` (indexed by field) holds as read: its key and
  // its field's old value.
  void add(qint64 tag, const std::vector<FieldBytes>& row, const std::optional<QByteArray>& after);
  bool full() const;
  bool empty() const { return rows_.empty(); }

  // Writes the queued rows and tells each one's result, in the order queued. `observer`,
  // when given, is told of each row once, before it can be written. `rowOnItsOwn`, when
  // given, is set while a row is written on its own: only such a write may be cancelled;
  // a chunk is never cut short, so that the observer saw exactly what it wrote. When the
  // link broke or a write was cancelled, the rows not yet told are told and that failure
  // is thrown.
  void flush(WriteObserver* observer, const Report& report,
             std::atomic<bool>* rowOnItsOwn = nullptr);

 private:
  struct Queued {
    qint64 tag;
    QByteArray packed;  // the key values, the old value, the new value
    bool inChunk;       // false: too big for the chunk table, written on its own
    bool observed = false;
  };
  enum class Attempt { Written, Retry, RowByRow };

  GroupedWriter(Session& session, const FieldCollection& fields, RowUpdater& updater, int field);
  bool makeChunkTable(QString* whyNot);
  bool castKeys(MYSQL* mysql);
  static QByteArray quoted(MYSQL* mysql, const QByteArray& text);
  void appendChunkRow(const std::vector<FieldBytes>& row, std::optional<QByteArrayView> after);
  Attempt writeChunk(WriteObserver* observer);
  Attempt failedChunk(MYSQL* mysql, bool maybeCommitted);
  Result writeOne(Queued& queued, WriteObserver* observer, std::optional<DbError>& why,
                  std::atomic<bool>* underway);
  std::vector<FieldBytes> rowOf(const RowValues& values) const;
  void observe(Queued& queued, WriteObserver* observer) const;

  Session& session_;
  const FieldCollection& fields_;
  RowUpdater& updater_;
  int field_;
  QByteArray chunkTable_;
  QByteArray insertHead_;
  QByteArray updateHead_, updateTail_;  // the UPDATE around its chunk
  // Without a chunk table (no privilege for one): the chunk is a derived table, its key
  // values cast to the key's types.
  bool derived_ = false;
  struct Cast {
    QByteArray before, after;
  };
  std::vector<Cast> keyCasts_;
  qsizetype valueCapacity_ = 0;  // bytes a value may have in the chunk table; 0: no limit
  qsizetype maxChunkBytes_ = 0;
  int maxChunkRows_ = 0;
  std::vector<Queued> rows_;
  bool chunkInDoubt_ = false;  // the link broke while the chunk's commit was on its way
  QByteArray values_;          // the chunk table's rows so far, as the INSERT lists them
};
