#include "PgGroupedWriter.h"

#include <arpa/inet.h>

#include <QScopeGuard>
#include <cstring>

#include "PgError.h"
#include "PgRowUpdater.h"
#include "PgSession.h"

namespace {

constexpr int ChunkAttempts = 3;  // a chunk lost to a deadlock is tried again, this often

// A value in COPY's text form: NULL as \N, the rest with backslash, tab and line breaks
// escaped; bytea as its hex form.
void appendCopyValue(QByteArray& out, const std::optional<QByteArray>& value, bool bytes) {
  if (!value) {
    out += "\\N";
    return;
  }
  if (bytes) {
    out += "\\\\x" + value->toHex();
    return;
  }
  for (char c : *value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

// Ends the transaction unless it was committed, on every path.
class PgTransaction {
 public:
  explicit PgTransaction(PgSession& session) : session_(session) { session_.run("BEGIN"); }
  ~PgTransaction() {
    if (!open_) return;
    try {
      session_.run("ROLLBACK");
    } catch (const DbError&) {
      // A link that broke has rolled it back already.
    }
  }
  PgTransaction(const PgTransaction&) = delete;
  PgTransaction& operator=(const PgTransaction&) = delete;
  void commit() {
    open_ = false;
    session_.run("COMMIT");
  }

 private:
  PgSession& session_;
  bool open_ = true;
};

}  // namespace

std::unique_ptr<PgGroupedWriter> PgGroupedWriter::For(PgSession& session,
                                                      const FieldCollection& fields,
                                                      PgRowUpdater& updater,
                                                      std::vector<int> written, QString* whyNot) {
  if (!updater.keyed() || written.size() != 1) {
    if (whyNot && !updater.keyed()) {
      *whyNot = QStringLiteral("the table has no primary or unique key");
    }
    return nullptr;
  }
  return std::unique_ptr<PgGroupedWriter>(
      new PgGroupedWriter(session, fields, updater, written.front()));
}

PgGroupedWriter::PgGroupedWriter(PgSession& session, const FieldCollection& fields,
                                 PgRowUpdater& updater, int field)
    : session_(session), fields_(fields), updater_(updater), field_(field) {}

void PgGroupedWriter::add(qint64 tag, const std::vector<FieldBytes>& row, const NewValues& afters) {
  const auto bytes = [](const FieldBytes& value) -> std::optional<QByteArray> {
    if (value.null) return std::nullopt;
    return QByteArray(value.data, qsizetype(value.length));
  };
  Row queued{tag, {}, bytes(row[std::size_t(field_)]), afters.front().second, {}};
  for (int field : updater_.identityFields()) {
    queued.key.push_back(bytes(row[std::size_t(field)]));
    AppendPackedValue(queued.packed, queued.key.back());
  }
  AppendPackedValue(queued.packed, queued.before);
  AppendPackedValue(queued.packed, queued.after);
  const QByteArray key = PackedValues(queued.key);
  queued.alone = keys_.contains(key);
  keys_.insert(key);
  rows_.push_back(std::move(queued));
}

// Each row by number, its key, its value as read (as bytes) and its new value.
QByteArray PgGroupedWriter::copyData() const {
  QByteArray data;
  const bool bytes = fields_.at(field_).binary;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const Row& row = rows_[i];
    if (row.alone) continue;
    data += QByteArray::number(qulonglong(i));
    for (const std::optional<QByteArray>& value : row.key) {
      data += '\t';
      appendCopyValue(data, value, false);
    }
    data += '\t';
    appendCopyValue(data, row.before, true);
    data += '\t';
    appendCopyValue(data, row.after, bytes);
    data += '\n';
  }
  return data;
}

// The chunk's rows into the temporary table, by COPY.
void PgGroupedWriter::load() {
  PGconn* connection = session_.idle();
  const PgResult copying(PQexec(connection, "COPY klarifeld_chunk FROM STDIN"));
  if (PQresultStatus(copying.get()) != PGRES_COPY_IN) throw PgError(connection, copying.get());
  const QByteArray data = copyData();
  if (PQputCopyData(connection, data.constData(), int(data.size())) != 1 ||
      PQputCopyEnd(connection, nullptr) != 1) {
    throw PgError(connection);
  }
  PgLastResult(connection);
}

bool PgGroupedWriter::writeChunk(WriteObserver* observer) {
  const QByteArray table =
      PgQuotedName(fields_.at(field_).database) + '.' + PgQuotedName(fields_.at(field_).table);
  const QByteArray column = PgQuotedName(fields_.at(field_).column);
  const bool bytes = fields_.at(field_).binary;
  QByteArrayList keys, matches;
  for (std::size_t k = 0; k < updater_.identityFields().size(); ++k) {
    const QByteArray name = PgQuotedName(fields_.at(updater_.identityFields()[k]).column);
    keys << name + " AS k" + QByteArray::number(qsizetype(k));
    matches << "t." + name + " = c.k" + QByteArray::number(qsizetype(k));
  }
  // What the value is, as the bytes it was read as: the single-row write's form.
  const QByteArray asRead = bytes ? "t." + column : "convert_to(concat(t." + column + "), 'UTF8')";
  PgTransaction transaction(session_);
  PgResult written;
  try {
    session_.run("CREATE TEMPORARY TABLE klarifeld_chunk ON COMMIT DROP AS SELECT 0 AS n, " +
                 keys.join(", ") + ", NULL::bytea AS b, " + column + " AS a FROM " + table +
                 " LIMIT 0");
    load();
    written = session_.run("UPDATE " + table + " AS t SET " + column +
                               " = c.a FROM klarifeld_chunk AS c WHERE " + matches.join(" AND ") +
                               " AND ((c.b IS NULL AND t." + column + " IS NULL) OR (t." + column +
                               " IS NOT NULL AND " + asRead + " = c.b)) RETURNING c.n, t." +
                               column + " IS NULL, " + asRead,
                           {}, true);
  } catch (const DbError& failure) {
    if (failure.connectionLost() || failure.interrupted() || failure.deadlock()) throw;
    // Refused, as the rows went in or as they were written: row by row, so that the row at
    // fault is told on its own.
    return false;
  }
  // The rows written, with what each holds now (a trigger may have changed it), go into the
  // journal before the commit.
  std::vector<RowChange> changes;
  std::vector<std::size_t> done;
  for (int r = 0; r < PQntuples(written.get()); ++r) {
    std::uint32_t n = 0;
    std::memcpy(&n, PQgetvalue(written.get(), r, 0), sizeof n);
    const std::size_t i = ntohl(n);
    std::optional<QByteArray> holds;
    if (*PQgetvalue(written.get(), r, 1) == 0) {
      holds = QByteArray(PQgetvalue(written.get(), r, 2), PQgetlength(written.get(), r, 2));
    }
    std::vector<std::optional<QByteArrayView>> identity;
    for (const std::optional<QByteArray>& value : rows_[i].key) {
      identity.push_back(value ? std::optional<QByteArrayView>(*value) : std::nullopt);
    }
    changes.push_back(updater_.changeOf(
        identity, field_,
        rows_[i].before ? std::optional<QByteArrayView>(*rows_[i].before) : std::nullopt,
        holds ? std::optional<QByteArrayView>(*holds) : std::nullopt));
    done.push_back(i);
  }
  if (observer) observer->aboutToWriteAll(changes);
  try {
    transaction.commit();
  } catch (const DbError& failure) {
    if (observer) {
      observer->settled(failure.connectionLost() ? WriteSettled::InDoubt
                                                 : WriteSettled::NotWritten);
    }
    if (failure.connectionLost()) {
      for (std::size_t i : done) rows_[i].result = Result::InDoubt;
    }
    throw;
  }
  if (observer) observer->settled(WriteSettled::Written);
  for (Row& row : rows_) {
    if (!row.alone) row.result = Result::NotFound;  // it no longer stands as read
  }
  for (std::size_t i : done) rows_[i].result = Result::Written;
  return true;
}

void PgGroupedWriter::writeAlone(Row& row, WriteObserver* observer,
                                 std::atomic<bool>* rowOnItsOwn) {
  if (rowOnItsOwn) *rowOnItsOwn = true;
  const auto done = qScopeGuard([rowOnItsOwn] {
    if (rowOnItsOwn) *rowOnItsOwn = false;
  });
  try {
    const bool written = updater_.tryWrite(updater_.rowOf(row.key, field_, row.before),
                                           {{field_, row.after}}, observer);
    row.result = written ? Result::Written : Result::NotFound;
  } catch (const DbError& failure) {
    if (failure.connectionLost() || failure.interrupted()) {
      row.result = failure.connectionLost() ? Result::InDoubt : Result::NotWritten;
      throw;
    }
    row.result = Result::Refused;
    row.why = failure;
  }
}

void PgGroupedWriter::flush(WriteObserver* observer, const Report& report,
                            std::atomic<bool>* rowOnItsOwn, bool, Flushing flushing) {
  // The rows queued go with this flush, written or not.
  const auto cleared = qScopeGuard([this] {
    rows_.clear();
    keys_.clear();
  });
  if (flushing == Flushing::UnderWayOnly || rows_.empty()) return;  // none is left under way
  std::optional<DbError> ended;
  try {
    bool chunked = false;
    for (int attempt = 1; !chunked; ++attempt) {
      try {
        chunked = writeChunk(observer);
        if (!chunked) break;
      } catch (const DbError& failure) {
        if (!failure.deadlock() || attempt == ChunkAttempts) throw;
      }
    }
    for (Row& row : rows_) {
      if (row.alone || !chunked) writeAlone(row, observer, rowOnItsOwn);
    }
  } catch (const DbError& failure) {
    ended = failure;
  }
  for (const Row& row : rows_) {
    if (!report(row.tag, 0, row.result, row.why ? &*row.why : nullptr, row.packed)) break;
  }
  if (ended) throw *ended;
}
