#include "RecordSet.h"

#include "Connection.h"
#include "GroupedWriter.h"
#include "RowSource.h"
#include "RowUpdater.h"
#include "Session.h"

namespace {

QString decoded(const FieldBytes& bytes, bool binary) {
  return binary ? QString::fromLatin1(bytes.data, qsizetype(bytes.length))
                : QString::fromUtf8(bytes.data, qsizetype(bytes.length));
}

}  // namespace

std::optional<QByteArray> EncodedFieldValue(const FieldValue& value, bool binary) {
  if (!value) return std::nullopt;
  if (!binary) {
    // UTF-8 has no form for half a character: it would be stored as a '?'.
    if (!QStringView(*value).isValidUtf16()) {
      throw DbError(
          QStringLiteral("The new value would cut a character in two (such as an "
                         "emoji), so the record was left as it was."));
    }
    return value->toUtf8();
  }
  QByteArray bytes(value->size(), Qt::Uninitialized);
  for (qsizetype i = 0; i < value->size(); ++i) {
    const char16_t unit = (*value)[i].unicode();
    if (unit > 0xFF) {
      throw DbError(
          QStringLiteral("The new value holds a character that a binary field cannot "
                         "hold (only codes 0 to 255), so the record was left as it "
                         "was."));
    }
    bytes[i] = char(unit);
  }
  return bytes;
}

RecordSet::RecordSet() = default;

RecordSet::~RecordSet() {
  Close();
}

void RecordSet::Open(const QString& statement, Connection& connection, int /*cursorType*/,
                     int lockType) {
  if (isOpen()) throw DbError(DbMessages::ObjectOpen, 3705);
  std::shared_ptr<Session> session = connection.session();
  rows_ = session->execute(statement.toUtf8());
  if (!rows_) return;  // a statement without rows leaves this closed
  fields_ = rows_->fields();
  session_ = std::move(session);
  lockType_ = lockType;
  advance();
}

void RecordSet::WriteThrough(Connection& connection, std::optional<QByteArrayList> keyColumns) {
  requireOpen();
  writeSession_ = connection.session();
  keyColumns_ = std::move(keyColumns);
  updater_.reset();
}

qint32 RecordSet::RecordCount() {
  requireOpen();
  return qint32(rows_->count());
}

bool RecordSet::Eof() const {
  requireOpen();
  return eof_;
}

const FieldCollection& RecordSet::Fields() const {
  requireOpen();
  return fields_;
}

FieldValue RecordSet::Value(int field) const {
  requireOpen();
  const bool binary = fields_.at(field).binary;
  requireCurrentRow();
  if (const auto assigned = assigned_.find(field); assigned != assigned_.end()) {
    return assigned->second;
  }
  const FieldBytes bytes = standing(field);
  if (bytes.null) return std::nullopt;
  return decoded(bytes, binary);
}

void RecordSet::SetValue(int field, const FieldValue& value) {
  requireOpen();
  fields_.at(field);
  requireCurrentRow();
  assigned_[field] = value;
}

void RecordSet::Update() {
  requireOpen();
  requireCurrentRow();
  if (assigned_.empty()) return;
  if (lockType_ == ReadOnly) throw DbError(DbMessages::NotUpdatable, 3251);

  RowUpdater::Assignments assignments;
  for (const auto& [field, value] : assigned_) {
    assignments[field] = EncodedFieldValue(value, fields_.at(field).binary);
  }
  // Rows still streaming are read in first, so the current row stays where it is.
  if (!writeSession_) session_->makeIdle();
  // The condition compares the values as they now stand in the record.
  std::vector<FieldBytes> current = rows_->current();
  for (const auto& [field, bytes] : written_) current[std::size_t(field)] = BytesOf(bytes);
  updater().write(current, assignments, observer_);

  for (auto& [field, bytes] : assignments) written_[field] = std::move(bytes);
  assigned_.clear();
}

std::unique_ptr<GroupedWriter> RecordSet::GroupedWrites(int field, QString* whyNot) {
  requireOpen();
  fields_.at(field);
  if (!writeSession_) session_->makeIdle();
  return writer().groupedWriter(fields_, updater(), {field}, whyNot);
}

void RecordSet::StageUpdate(GroupedWriter& writer, qint64 tag) {
  requireOpen();
  requireCurrentRow();
  if (assigned_.empty()) return;
  if (lockType_ == ReadOnly) throw DbError(DbMessages::NotUpdatable, 3251);
  const auto [field, value] = *assigned_.begin();
  const std::optional<QByteArray> bytes = EncodedFieldValue(value, fields_.at(field).binary);
  writer.add(tag, rows_->current(), bytes);
  assigned_.clear();
}

RowIdentity RecordSet::CurrentIdentity() {
  RowIdentity identity = IdentityColumns();
  identity.values = UnpackedValues(CurrentIdentityPacked());
  return identity;
}

RowIdentity RecordSet::IdentityColumns() {
  requireOpen();
  RowIdentity identity;
  identity.keyed = updater().keyed();
  for (int field : updater().identityFields()) identity.columns << fields_.at(field).column;
  return identity;
}

QByteArray RecordSet::CurrentIdentityPacked() {
  requireOpen();
  requireCurrentRow();
  QByteArray packed;
  for (int field : updater().identityFields()) {
    const FieldBytes value = standing(field);
    AppendPackedValue(
        packed, value.null ? std::nullopt
                           : std::optional(QByteArrayView(value.data, qsizetype(value.length))));
  }
  return packed;
}

std::optional<QByteArrayView> RecordSet::RawValue(int field) const {
  requireOpen();
  fields_.at(field);
  requireCurrentRow();
  const FieldBytes value = standing(field);
  if (value.null) return std::nullopt;
  return QByteArrayView(value.data, qsizetype(value.length));
}

// The value as it now stands in the record: what Update wrote, else what was read.
FieldBytes RecordSet::standing(int field) const {
  const auto written = written_.find(field);
  return written != written_.end() ? BytesOf(written->second)
                                   : rows_->current()[std::size_t(field)];
}

RowUpdater& RecordSet::updater() {
  if (!updater_) {
    updater_ = writer().rowUpdater(fields_, keyColumns_ ? &*keyColumns_ : nullptr);
  }
  return *updater_;
}

void RecordSet::CancelUpdate() {
  assigned_.clear();
}

void RecordSet::MoveNext() {
  requireOpen();
  requireCurrentRow();
  advance();
}

void RecordSet::Close() {
  rows_.reset();  // unread rows are left to the session, not downloaded
  updater_.reset();
  session_.reset();
  writeSession_.reset();
  fields_ = FieldCollection();
  assigned_.clear();
  written_.clear();
  eof_ = true;
}

void RecordSet::requireOpen() const {
  if (!isOpen()) throw DbError(DbMessages::ObjectClosed, 3704);
}

void RecordSet::requireCurrentRow() const {
  if (eof_) throw DbError(DbMessages::NoCurrentRecord, 3021);
}

void RecordSet::advance() {
  assigned_.clear();
  written_.clear();
  try {
    eof_ = !rows_->next();
  } catch (...) {
    eof_ = true;  // the failure is reported; no row is current any more
    throw;
  }
}
