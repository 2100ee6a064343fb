#include "PgGroupedWriter.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <cstdlib>
#include <span>

#include "PgError.h"
#include "PgRowUpdater.h"
#include "PgSession.h"
#include "TellingAhead.h"

namespace {

// A value in COPY's text form: NULL as \N, the rest with backslash, tab and line breaks
// escaped; bytea as its hex form.
void appendCopyValue(QByteArray& out, std::optional<QByteArrayView> value, bool bytes) {
  if (!value) {
    out += "\\N";
    return;
  }
  if (bytes) {
    out += "\\\\x" + QByteArray::fromRawData(value->data(), value->size()).toHex();
    return;
  }
  for (const char c : *value) {
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

// Ends the transaction that a chunk's statements begin unless it was committed, on every
// path.
class PgTransaction {
 public:
  explicit PgTransaction(PgSession& session) : session_(session) {}
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
  // The chunk's statements committed it.
  void committedWithTheWrite() { open_ = false; }

 private:
  PgSession& session_;
  bool open_ = true;
};

// Whether `field`'s column keeps a value written as it is: text, varchar or bytea (char(n)
// pads it, other types have their own form), in a table without triggers or rules that
// could change it.
bool KeepsWhatIsWritten(PgSession& session, const FieldInfo& field) {
  constexpr int Bytea = 17, Text = 25, Varchar = 1043;
  if (field.type != Bytea && field.type != Text && field.type != Varchar) return false;
  const PgResult found = session.run(
      "SELECT EXISTS (SELECT 1 FROM pg_trigger WHERE tgrelid = c.oid AND NOT tgisinternal) OR "
      "EXISTS (SELECT 1 FROM pg_rewrite WHERE ev_class = c.oid) FROM pg_class c JOIN "
      "pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = $1 AND c.relname = $2",
      {{field.database}, {field.table}});
  return PQntuples(found.get()) == 1 && *PQgetvalue(found.get(), 0, 0) == 'f';
}

// Whether a chunk's statements should commit it themselves: worth it where a round trip
// costs more than keeping the journal's entries while the server writes the rows (over a
// network, not on this computer). They commit only when they wrote every row, by a check of
// the session's own that fails with a state of Klarifeld's own (KF001); where the user may
// not make it, chunks commit after the write.
bool CommitsOnTheServer(PgSession& session, bool always) {
  constexpr qint64 LocalRoundTripNs = 2'000'000;
  QElapsedTimer roundTrip;
  roundTrip.start();
  try {
    session.run(
        "CREATE OR REPLACE FUNCTION pg_temp.klarifeld_all_written(written bigint, queued "
        "bigint) RETURNS bigint LANGUAGE plpgsql AS $$BEGIN IF written <> queued THEN RAISE "
        "EXCEPTION 'rows changed since they were read' USING ERRCODE = 'KF001'; END IF; "
        "RETURN written; END$$");
  } catch (const DbError& failure) {
    if (failure.connectionLost()) throw;
    return false;
  }
  return always || roundTrip.nsecsElapsed() > LocalRoundTripNs;
}

}  // namespace

bool PgGroupedWriter::committingAsOverANetwork = false;

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
  auto writer = std::unique_ptr<PgGroupedWriter>(
      new PgGroupedWriter(session, fields, updater, std::move(written)));
  writer->keepsWhatIsWritten_ = KeepsWhatIsWritten(session, fields.at(writer->written_.front()));
  writer->commitsOnTheServer_ =
      writer->keepsWhatIsWritten_ && CommitsOnTheServer(session, committingAsOverANetwork);
  return writer;
}

PgGroupedWriter::PgGroupedWriter(PgSession& session, const FieldCollection& fields,
                                 PgRowUpdater& updater, std::vector<int> written)
    : session_(session),
      fields_(fields),
      updater_(updater),
      written_(std::move(written)),
      settler_(*this, updater, written_) {}

void PgGroupedWriter::add(qint64 tag, const std::vector<FieldBytes>& row, const NewValues& afters) {
  const auto viewOf = [](const FieldBytes& value) -> std::optional<QByteArrayView> {
    if (value.null) return std::nullopt;
    return QByteArrayView(value.data, qsizetype(value.length));
  };
  QueuedRow queued;
  queued.tag = tag;
  queued.writtenSlots = 1;
  for (int field : updater_.identityFields()) {
    AppendPackedValue(queued.packed, viewOf(row[std::size_t(field)]));
  }
  // A row whose key is queued again goes on its own: one UPDATE writes a row once.
  const QByteArray key = queued.packed;
  AppendPackedValue(queued.packed, viewOf(row[std::size_t(written_.front())]));
  const std::optional<QByteArray>& after = afters.front().second;
  AppendPackedValue(queued.packed, after ? std::optional<QByteArrayView>(*after) : std::nullopt);
  queued.inChunk = !keys_.contains(key);
  if (queued.inChunk) {
    keys_.insert(key);
    queued.from = listed_.size();
    appendCopyRow(rows_.size(), queued.packed);
    queued.to = listed_.size();
  } else {
    keys_.clear();  // the chunk so far is written before this row
  }
  rows_.push_back(std::move(queued));
}

void PgGroupedWriter::flush(WriteObserver* observer, const Report& report,
                            std::atomic<bool>* rowOnItsOwn, bool inOrder, Flushing flushing) {
  const auto emptied = qScopeGuard([this] {
    rows_.clear();
    listed_.clear();
    keys_.clear();
  });
  settler_.flush(std::move(rows_), std::move(listed_), observer, report, rowOnItsOwn, inOrder,
                 flushing);
}

// While the session is not reading: its rows are on their way.
bool PgGroupedWriter::mayGoUnderWay(const std::vector<QueuedRow>& rows) const {
  return !rows.empty() && session_.idleNow() &&
         std::all_of(rows.begin(), rows.end(),
                     [](const QueuedRow& queued) { return queued.inChunk; });
}

// A row as COPY lists it: its place in the chunk, its key, its value as read (as bytes)
// and its new value.
void PgGroupedWriter::appendCopyRow(std::size_t place, QByteArrayView packed) {
  const bool bytes = fields_.at(written_.front()).binary;
  const std::size_t keys = updater_.identityFields().size();
  listed_ += QByteArray::number(qulonglong(place));
  qsizetype at = 0;
  for (std::size_t k = 0; k < keys + 2; ++k) {
    listed_ += '\t';
    appendCopyValue(listed_, NextPackedValue(packed, at), k == keys || (k > keys && bytes));
  }
  listed_ += '\n';
}

// Sends `statements`, the chunk's rows `part` by COPY on the way, and returns the last
// statement's result: one round trip to begin the COPY, one for the rest. `beforeTheEnd`
// runs before the COPY ends, after which the server runs the statements that follow it; a
// failure there ends the COPY unwritten.
PgResult PgGroupedWriter::send(const QByteArray& statements, const std::vector<QueuedRow>& rows,
                               const QByteArray& listed, const std::vector<std::size_t>& part,
                               const std::function<void()>& beforeTheEnd) {
  PGconn* connection = session_.idle();
  const PgResult copying(PQexec(connection, statements.constData()));
  if (PQresultStatus(copying.get()) != PGRES_COPY_IN) throw PgError(connection, copying.get());
  // Rows next to each other go in one piece.
  for (std::size_t p = 0; p < part.size();) {
    std::size_t end = p + 1;
    while (end < part.size() && rows[part[end]].from == rows[part[end - 1]].to) ++end;
    const qsizetype from = rows[part[p]].from, to = rows[part[end - 1]].to;
    if (PQputCopyData(connection, listed.constData() + from, int(to - from)) != 1) {
      throw PgError(connection);
    }
    p = end;
  }
  try {
    if (beforeTheEnd) beforeTheEnd();
  } catch (...) {
    PQputCopyEnd(connection, "not written");
    try {
      PgLastResult(connection);
    } catch (const DbError&) {
      // The COPY failed, as asked.
    }
    throw;
  }
  if (PQputCopyEnd(connection, nullptr) != 1) throw PgError(connection);
  return PgLastResult(connection);
}

// Begins the transaction, makes the temporary table, takes its rows by COPY and writes
// those still as read, returning each one's place (and what it holds then, unless the
// column keeps what is written); or, given the rows `committing`, commits when it wrote
// them all, and else fails (KF001).
QByteArray PgGroupedWriter::chunkStatements(std::optional<std::size_t> committing) const {
  const FieldInfo& field = fields_.at(written_.front());
  const QByteArray table = PgQuotedName(field.database) + '.' + PgQuotedName(field.table);
  const QByteArray column = PgQuotedName(field.column);
  QByteArrayList keys, matches;
  for (std::size_t k = 0; k < updater_.identityFields().size(); ++k) {
    const QByteArray name = PgQuotedName(fields_.at(updater_.identityFields()[k]).column);
    const QByteArray alias = "k" + QByteArray::number(qsizetype(k));
    keys << name + " AS " + alias;
    matches << "t." + name + " = c." + alias;
  }
  // What the value is, as the bytes it was read as: the single-row write's form.
  const QByteArray asRead =
      field.binary ? "t." + column : "convert_to(concat(t." + column + "), 'UTF8')";
  const QByteArray update = "UPDATE " + table + " AS t SET " + column +
                            " = c.a FROM klarifeld_chunk AS c WHERE " + matches.join(" AND ") +
                            " AND ((c.b IS NULL AND t." + column + " IS NULL) OR (t." + column +
                            " IS NOT NULL AND " + asRead + " = c.b)) RETURNING c.n" +
                            (keepsWhatIsWritten_ ? QByteArray() : ", t." + column);
  const QByteArray begun =
      "BEGIN; CREATE TEMPORARY TABLE klarifeld_chunk ON COMMIT DROP AS SELECT 0 AS n, " +
      keys.join(", ") + ", NULL::bytea AS b, " + column + " AS a FROM " + table +
      " LIMIT 0; COPY klarifeld_chunk FROM STDIN; ";
  if (!committing) return begun + update;
  return begun + "WITH w AS (" + update + ") SELECT pg_temp.klarifeld_all_written(count(*), " +
         QByteArray::number(qulonglong(*committing)) + ") FROM w; COMMIT";
}

ChunkAttempt PgGroupedWriter::attemptChunk(std::vector<QueuedRow>& rows, const QByteArray& listed,
                                           const std::vector<std::size_t>& part,
                                           WriteObserver* observer,
                                           std::vector<std::size_t>& atFault, bool inOrder) {
  if (commitsOnTheServer_) {
    if (const std::optional<ChunkAttempt> done = writeAndCommit(rows, listed, part, observer)) {
      return *done;
    }
  }
  return writeThenCommit(rows, listed, part, observer, atFault, inOrder);
}

// Where the column keeps what is written, the entries are kept while the rows travel, and
// the server commits in the same round trip when it wrote every row. Nothing when some no
// longer stand as read: which, writeThenCommit finds.
std::optional<ChunkAttempt> PgGroupedWriter::writeAndCommit(std::vector<QueuedRow>& rows,
                                                            const QByteArray& listed,
                                                            const std::vector<std::size_t>& part,
                                                            WriteObserver* observer) {
  PgTransaction transaction(session_);
  TellingAhead ahead(observer, [&] { return changesAhead(rows, part); });
  try {
    send(chunkStatements(part.size()), rows, listed, part, [&] { ahead.take(); });
  } catch (const DbError& failure) {
    if (failure.sqlState() == "KF001") return std::nullopt;
    if (failure.connectionLost()) {  // the commit may have been made
      ahead.settle(WriteSettled::InDoubt);
      for (std::size_t i : part) rows[i].result = Result::InDoubt;
    }
    return ChunkAttemptAfter(failure);
  }
  transaction.committedWithTheWrite();
  ahead.settle(WriteSettled::Written);
  for (std::size_t i : part) rows[i].result = Result::Written;
  return ChunkAttempt::Written;
}

ChunkAttempt PgGroupedWriter::writeThenCommit(std::vector<QueuedRow>& rows,
                                              const QByteArray& listed,
                                              const std::vector<std::size_t>& part,
                                              WriteObserver* observer,
                                              std::vector<std::size_t>& atFault, bool inOrder) {
  PgTransaction transaction(session_);
  // Where the row keeps what is written, the entries are kept while the rows travel.
  std::optional<TellingAhead> ahead;
  if (keepsWhatIsWritten_) ahead.emplace(observer, [&] { return changesAhead(rows, part); });
  PgResult written;
  try {
    written = send(chunkStatements(), rows, listed, part);
  } catch (const DbError& failure) {
    return ChunkAttemptAfter(failure);
  }
  std::vector<std::size_t> done = placesOf(written.get());
  std::sort(done.begin(), done.end());
  std::set_difference(part.begin(), part.end(), done.begin(), done.end(),
                      std::back_inserter(atFault));
  // Told ahead, a chunk keeps all its rows or none.
  if (!atFault.empty() && (inOrder || ahead)) return ChunkAttempt::Mismatch;
  if (!ahead) ahead.emplace(observer, [&] { return changesOf(written.get(), rows); });
  ahead->take();
  try {
    transaction.commit();
  } catch (const DbError& failure) {
    if (failure.connectionLost()) {
      ahead->settle(WriteSettled::InDoubt);
      for (std::size_t i : done) rows[i].result = Result::InDoubt;
    }
    return ChunkAttemptAfter(failure);
  }
  ahead->settle(WriteSettled::Written);
  for (std::size_t i : done) rows[i].result = Result::Written;
  return ChunkAttempt::Written;
}

// The changes of the rows `part` as queued, for a column that keeps what is written.
std::vector<RowChange> PgGroupedWriter::changesAhead(const std::vector<QueuedRow>& rows,
                                                     const std::vector<std::size_t>& part) const {
  const std::size_t keyCount = updater_.identityFields().size();
  std::vector<RowChange> changes;
  changes.reserve(part.size());
  std::vector<std::optional<QByteArrayView>> values;
  for (std::size_t i : part) {
    values.clear();
    qsizetype at = 0;
    for (std::size_t k = 0; k < keyCount + 2; ++k) {
      values.push_back(NextPackedValue(rows[i].packed, at));
    }
    changes.push_back(updater_.changeOf(std::span(values).first(keyCount), written_.front(),
                                        values[keyCount], values[keyCount + 1]));
  }
  return changes;
}

// The places of the rows that the UPDATE wrote, as it returned them.
std::vector<std::size_t> PgGroupedWriter::placesOf(const PGresult* written) {
  std::vector<std::size_t> places;
  places.reserve(std::size_t(PQntuples(written)));
  for (int r = 0; r < PQntuples(written); ++r) {
    places.push_back(std::strtoull(PQgetvalue(written, r, 0), nullptr, 10));
  }
  return places;
}

// The changes of the rows written, with what each holds now (a trigger may have changed
// it), as the UPDATE returned them.
std::vector<RowChange> PgGroupedWriter::changesOf(const PGresult* written,
                                                  const std::vector<QueuedRow>& rows) const {
  const std::size_t keyCount = updater_.identityFields().size();
  const bool bytes = fields_.at(written_.front()).binary;
  std::vector<RowChange> changes;
  std::vector<std::optional<QByteArrayView>> values;
  QByteArray decoded;
  for (int r = 0; r < PQntuples(written); ++r) {
    const std::size_t i = std::strtoull(PQgetvalue(written, r, 0), nullptr, 10);
    values.clear();
    qsizetype at = 0;
    for (std::size_t k = 0; k < keyCount + 1; ++k) {
      values.push_back(NextPackedValue(rows[i].packed, at));
    }
    std::optional<QByteArrayView> holds;
    if (!PQgetisnull(written, r, 1)) {
      holds = QByteArrayView(PQgetvalue(written, r, 1), PQgetlength(written, r, 1));
      if (bytes) {  // "\x6162" is the bytes 0x61 0x62
        decoded = QByteArray::fromHex(holds->sliced(2).toByteArray());
        holds = decoded;
      }
    }
    changes.push_back(updater_.changeOf(std::span(values).first(keyCount), written_.front(),
                                        values.back(), holds));
  }
  return changes;
}
