#include "PgRows.h"

#include "PgError.h"

PgRows::PgRows(std::shared_ptr<PgSession> session, FieldCollection fields)
    : RowSource(std::move(fields)),
      session_(std::move(session)),
      decoded_(std::size_t(fields_.count())) {}

PgRows::~PgRows() {
  abandon();
}

bool PgRows::next() {
  if (!ahead_.empty()) {
    take(std::move(ahead_.front()));
    ahead_.pop_front();
    return true;
  }
  if (lost_) throw DbError(DbMessages::ObjectClosed, 3704);
  PgResult row = fromWire();
  if (!row) return false;
  take(std::move(row));
  return true;
}

qint64 PgRows::count() {
  bufferRest();
  return fetched_;
}

void PgRows::abandon() {
  if (!streaming_) return;
  streaming_ = false;
  session_->abandon(this);
}

void PgRows::bufferRest() {
  while (PgResult row = fromWire()) ahead_.push_back(std::move(row));
}

void PgRows::dropRest() {
  streaming_ = false;
  lost_ = true;
}

PgResult PgRows::fromWire() {
  if (!streaming_) return nullptr;
  PGconn* connection = session_->handle();
  PgResult result(PQgetResult(connection));
  if (result && PQresultStatus(result.get()) == PGRES_SINGLE_TUPLE) {
    ++fetched_;
    return result;
  }
  // The end, or a failure on the way, which must not pass for the end.
  streaming_ = false;
  session_->finished(this);
  const bool failed = !result || PQresultStatus(result.get()) != PGRES_TUPLES_OK;
  const DbError failure = failed ? PgError(connection, result.get()) : DbError(QString());
  while (PGresult* rest = PQgetResult(connection)) PQclear(rest);
  if (failed) throw failure;
  return nullptr;
}

void PgRows::take(PgResult row) {
  row_ = std::move(row);
  for (int i = 0; i < fields_.count(); ++i) {
    FieldBytes& field = current_[std::size_t(i)];
    field.null = PQgetisnull(row_.get(), 0, i);
    field.data = field.null ? nullptr : PQgetvalue(row_.get(), 0, i);
    field.length = field.null ? 0 : (unsigned long)PQgetlength(row_.get(), 0, i);
    if (field.null || !fields_.at(i).binary) continue;
    // "\x6162" is the bytes 0x61 0x62.
    QByteArray& bytes = decoded_[std::size_t(i)];
    bytes = QByteArray::fromHex(QByteArray(field.data + 2, qsizetype(field.length) - 2));
    field.data = bytes.constData();
    field.length = (unsigned long)bytes.size();
  }
}
