#include "RowRewriter.h"

#include "Connection.h"
#include "DbError.h"
#include "GroupedWriter.h"
#include "RowUpdater.h"
#include "Session.h"

namespace {

const QString TableChanged = QStringLiteral(
    "The table no longer has the key or the columns that the run found its rows by, so they "
    "cannot be found again safely. Nothing was written.");

}  // namespace

RowRewriter::RowRewriter(Connection& connection, const QString& database, const QString& table,
                         const QByteArrayList& identityColumns, bool keyed,
                         const QByteArray& column)
    : session_(connection.session()) {
  MYSQL* mysql = session_->idle();
  const QByteArray sql = "SELECT * FROM " + QuotedIdentifier(database.toUtf8()) + '.' +
                         QuotedIdentifier(table.toUtf8()) + " LIMIT 0";
  if (mysql_real_query(mysql, sql.constData(), sql.size())) throw DbError::from(mysql);
  const ResultHandle result(mysql_store_result(mysql));
  if (!result) throw DbError::from(mysql);
  fields_ = FieldCollection(result.get());
  updater_ = std::make_unique<RowUpdater>(*session_, fields_);

  QByteArrayList found;
  for (int field : updater_->identityFields()) found << fields_.at(field).column;
  if (updater_->keyed() != keyed || found != identityColumns) throw DbError(TableChanged);
  identityFields_ = updater_->identityFields();
  for (int i = 0; i < fields_.count(); ++i) {
    if (fields_.at(i).column == column) field_ = i;
  }
  if (field_ < 0) throw DbError(TableChanged);
  grouped_ = GroupedWriter::For(*session_, fields_, *updater_, field_);
}

RowRewriter::~RowRewriter() = default;

std::vector<FieldBytes> RowRewriter::rowOf(const RowValues& identity,
                                           const std::optional<QByteArray>& value) const {
  if (identity.size() != identityFields_.size()) throw DbError(TableChanged);
  return updater_->rowOf(identity, field_, value);
}

RowRewriter::Outcome RowRewriter::rewrite(const RowValues& identity,
                                          const std::optional<QByteArray>& from,
                                          const std::optional<QByteArray>& to,
                                          WriteObserver* observer) {
  if (updater_->tryWrite(rowOf(identity, from), {{field_, to}}, observer)) return Outcome::Written;
  return notWrittenOutcome(identity, to);
}

bool RowRewriter::holds(const RowValues& identity, const std::optional<QByteArray>& value) {
  return updater_->rowExists(rowOf(identity, value), {field_});
}

// Why a rewrite found no row holding its `from`.
RowRewriter::Outcome RowRewriter::notWrittenOutcome(const RowValues& identity,
                                                    const std::optional<QByteArray>& to) {
  const std::vector<FieldBytes> row = rowOf(identity, to);
  if (updater_->rowExists(row, {field_})) return Outcome::AlreadyThere;
  if (!updater_->keyed()) return Outcome::ChangedSince;
  return updater_->rowExists(row, {}) ? Outcome::ChangedSince : Outcome::Gone;
}

void RowRewriter::queue(const RowValues& identity, const std::optional<QByteArray>& from,
                        const std::optional<QByteArray>& to) {
  grouped_->add(0, rowOf(identity, from), to);
}

int RowRewriter::chunkRows() const {
  return grouped_ ? grouped_->chunkRows() : 1;
}

bool RowRewriter::full() const {
  return grouped_->full();
}

void RowRewriter::flush(WriteObserver* observer,
                        const std::function<bool(Outcome outcome, const DbError* why)>& told,
                        std::atomic<bool>* rowOnItsOwn) {
  grouped_->flush(
      observer,
      [&](qint64, Outcome result, const DbError* why, const QByteArray& row) {
        return told(result == Outcome::NotFound ? notWrittenOutcome(row) : result, why);
      },
      rowOnItsOwn, false);
}

// Why a queued rewrite, as the grouped writer packs it, found no row holding its `from`.
RowRewriter::Outcome RowRewriter::notWrittenOutcome(const QByteArray& queuedRow) {
  RowValues values = UnpackedValues(queuedRow);
  const std::optional<QByteArray> to = values.back();
  values.resize(identityFields_.size());
  return notWrittenOutcome(values, to);
}
