#include "RowSource.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "DbError.h"

namespace {
constexpr std::uint32_t NullMark = UINT32_MAX;
}  // namespace

void RowBuffer::append(MYSQL_ROW row, const unsigned long* lengths, unsigned fieldCount) {
  std::size_t bytes = 0;
  for (unsigned i = 0; i < fieldCount; ++i) bytes += sizeof(std::uint32_t) + lengths[i];
  char* out = arena_.reserve(bytes);
  rows_.push_back(out);
  for (unsigned i = 0; i < fieldCount; ++i) {
    const std::uint32_t length = row[i] ? std::uint32_t(lengths[i]) : NullMark;
    std::memcpy(out, &length, sizeof length);
    out += sizeof length;
    if (row[i]) out = std::copy_n(row[i], lengths[i], out);
  }
}

void RowBuffer::takeNext(std::vector<FieldBytes>& fields) {
  const char* in = rows_[next_++];
  for (FieldBytes& field : fields) {
    std::uint32_t length;
    std::memcpy(&length, in, sizeof length);
    in += sizeof length;
    field.null = length == NullMark;
    field.data = field.null ? nullptr : in;
    field.length = field.null ? 0 : length;
    in += field.length;
  }
}

RowSource::RowSource(std::shared_ptr<Session> session, ResultHandle result)
    : session_(std::move(session)),
      result_(std::move(result)),
      fieldCount_(mysql_num_fields(result_.get())),
      current_(fieldCount_) {
  session_->streaming(this);
}

RowSource::~RowSource() {
  if (result_) abandon();
}

bool RowSource::next() {
  if (!ahead_.empty()) {
    ahead_.takeNext(current_);
    return true;
  }
  if (lost_) throw DbError(DbMessages::ObjectClosed, 3704);
  if (!result_) return false;
  const MYSQL_ROW row = mysql_fetch_row(result_.get());
  if (!row) {
    endOfWire();
    return false;
  }
  const unsigned long* lengths = mysql_fetch_lengths(result_.get());
  for (unsigned i = 0; i < fieldCount_; ++i) {
    current_[i] = {row[i], row[i] ? lengths[i] : 0, row[i] == nullptr};
  }
  ++fetched_;
  return true;
}

qint64 RowSource::count() {
  bufferRest();
  return fetched_;
}

void RowSource::abandon() {
  if (!result_) return;
  session_->finished(this);
  session_->abandon(std::move(result_));
}

// The current row lives in the client library's buffer until the next fetch: copy it first.
void RowSource::keepCurrent() {
  qsizetype bytes = 0;
  for (const FieldBytes& field : current_) bytes += field.length;
  keptCurrent_.resize(bytes);
  char* out = keptCurrent_.data();
  for (FieldBytes& field : current_) {
    if (field.null) continue;
    out = std::copy_n(field.data, field.length, out);
    field.data = out - field.length;
  }
}

void RowSource::bufferRest() {
  if (!result_) return;
  keepCurrent();
  while (const MYSQL_ROW row = mysql_fetch_row(result_.get())) {
    ahead_.append(row, mysql_fetch_lengths(result_.get()), fieldCount_);
    ++fetched_;
  }
  endOfWire();
}

void RowSource::dropRest() {
  if (!result_) return;
  keepCurrent();
  result_.reset();
  lost_ = true;
}

// A result ends at its last row or at a failure on the way, which must not pass for the end.
void RowSource::endOfWire() {
  MYSQL* mysql = session_->handle();
  const bool failed = mysql_errno(mysql) != 0;
  const DbError failure = failed ? DbError::from(mysql) : DbError(QString());
  result_.reset();
  session_->finished(this);
  if (failed) throw failure;
}
