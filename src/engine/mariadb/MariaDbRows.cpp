#include "MariaDbRows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "MariaDbError.h"

namespace {

constexpr unsigned BinaryCharset = 63;
constexpr std::uint32_t NullMark = UINT32_MAX;

// Numbers and dates also carry the binary character set, but they travel as text.
bool isByteString(const MYSQL_FIELD& field) {
  switch (field.type) {
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_BIT:
    case MYSQL_TYPE_GEOMETRY:
      return field.charsetnr == BinaryCharset;
    default:
      return false;
  }
}
}  // namespace

FieldCollection MariaDbFields(MYSQL_RES* result) {
  std::vector<FieldInfo> infos;
  const unsigned count = mysql_num_fields(result);
  const MYSQL_FIELD* fields = mysql_fetch_fields(result);
  infos.reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    const MYSQL_FIELD& f = fields[i];
    infos.push_back({QString::fromUtf8(f.name, f.name_length),
                     QByteArray(f.org_name, f.org_name_length),
                     QByteArray(f.org_table, f.org_table_length), QByteArray(f.db, f.db_length),
                     isByteString(f), int(f.type), f.length});
  }
  return FieldCollection(std::move(infos));
}

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

MariaDbRows::MariaDbRows(std::shared_ptr<MariaDbSession> session, ResultHandle result)
    : RowSource(MariaDbFields(result.get())),
      session_(std::move(session)),
      result_(std::move(result)),
      fieldCount_(mysql_num_fields(result_.get())) {
  session_->streaming(this);
}

MariaDbRows::~MariaDbRows() {
  if (result_) abandon();
}

bool MariaDbRows::next() {
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

qint64 MariaDbRows::count() {
  bufferRest();
  return fetched_;
}

void MariaDbRows::abandon() {
  if (!result_) return;
  session_->finished(this);
  session_->abandon(std::move(result_));
}

// The current row lives in the client library's buffer until the next fetch: copy it first.
void MariaDbRows::keepCurrent() {
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

void MariaDbRows::bufferRest() {
  if (!result_) return;
  keepCurrent();
  while (const MYSQL_ROW row = mysql_fetch_row(result_.get())) {
    ahead_.append(row, mysql_fetch_lengths(result_.get()), fieldCount_);
    ++fetched_;
  }
  endOfWire();
}

void MariaDbRows::dropRest() {
  if (!result_) return;
  keepCurrent();
  result_.reset();
  lost_ = true;
}

// A result ends at its last row or at a failure on the way, which must not pass for the end.
void MariaDbRows::endOfWire() {
  MYSQL* mysql = session_->handle();
  const bool failed = mysql_errno(mysql) != 0;
  const DbError failure = failed ? MariaDbError(mysql) : DbError(QString());
  result_.reset();
  session_->finished(this);
  if (failed) throw failure;
}
