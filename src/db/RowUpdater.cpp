#include "RowUpdater.h"

#include <algorithm>

#include "DbError.h"
#include "Session.h"

RowUpdater::RowUpdater(const FieldCollection& fields) : fields_(fields) {
  for (int i = 0; i < fields.count(); ++i) {
    const FieldInfo& field = fields.at(i);
    if (field.table.isEmpty() || field.column.isEmpty()) continue;
    if (tableName_.isEmpty()) {
      tableName_ = field.table;
      database_ = field.database;
    } else if (field.table != tableName_ || field.database != database_) {
      throw DbError(DbMessages::NoBaseTable);
    }
    tableFields_.push_back(i);
  }
  if (tableName_.isEmpty()) throw DbError(DbMessages::NoBaseTable);
}

// The key named, where this result holds all its columns.
bool RowUpdater::takeKey(const QByteArrayList& columns) {
  std::vector<int> key;
  for (const QByteArray& column : columns) {
    const auto field = std::find_if(tableFields_.begin(), tableFields_.end(), [&](int i) {
      return fields_.at(i).column.compare(column, Qt::CaseInsensitive) == 0;
    });
    if (field == tableFields_.end()) return false;
    key.push_back(*field);
  }
  keyFields_ = std::move(key);
  return true;
}

QByteArrayList RowUpdater::keyColumns() const {
  QByteArrayList columns;
  for (int field : keyFields_) columns << fields_.at(field).column;
  return columns;
}

std::vector<FieldBytes> RowUpdater::rowOf(const RowValues& identity, int field,
                                          const std::optional<QByteArray>& value) const {
  const std::vector<int>& fields = identityFields();
  std::vector<FieldBytes> row(std::size_t(fields_.count()));
  for (std::size_t i = 0; i < fields.size() && i < identity.size(); ++i) {
    row[std::size_t(fields[i])] = BytesOf(identity[i]);
  }
  row[std::size_t(field)] = BytesOf(value);
  return row;
}

std::vector<int> FieldsForWriting(Session& session, const FieldCollection& tableFields,
                                  const std::vector<int>& fields, QByteArrayList* keyColumns) {
  const std::unique_ptr<RowUpdater> updater = session.rowUpdater(tableFields, nullptr);
  if (keyColumns) *keyColumns = updater->keyColumns();
  std::vector<int> needed = updater->identityFields();
  needed.insert(needed.end(), fields.begin(), fields.end());
  std::sort(needed.begin(), needed.end());
  needed.erase(std::unique(needed.begin(), needed.end()), needed.end());
  return needed;
}

const std::vector<int>& RowUpdater::identityFields() const {
  return keyFields_.empty() ? tableFields_ : keyFields_;
}

RowChange RowUpdater::changeOf(const std::vector<FieldBytes>& current, int field,
                               const std::optional<QByteArray>& after) const {
  const auto view = [](const FieldBytes& value) -> std::optional<QByteArrayView> {
    if (value.null) return std::nullopt;
    return QByteArrayView(value.data, qsizetype(value.length));
  };
  std::vector<std::optional<QByteArrayView>> identity;
  for (int identityField : identityFields()) {
    identity.push_back(view(current[std::size_t(identityField)]));
  }
  RowChange change = changeOf(identity, field, view(current[std::size_t(field)]), std::nullopt);
  change.after = after;  // shared, not copied
  return change;
}

RowChange RowUpdater::changeOf(std::span<const std::optional<QByteArrayView>> identity, int field,
                               std::optional<QByteArrayView> before,
                               std::optional<QByteArrayView> after) const {
  const auto bytes = [](std::optional<QByteArrayView> value) -> std::optional<QByteArray> {
    if (!value) return std::nullopt;
    return value->toByteArray();
  };
  RowChange change = changeShape(field);
  change.identity.reserve(identity.size());
  for (std::optional<QByteArrayView> value : identity) change.identity.push_back(bytes(value));
  change.before = bytes(before);
  change.after = bytes(after);
  return change;
}

RowChange RowUpdater::changeShape(int field) const {
  RowChange change;
  change.keyed = keyed();
  for (int identityField : identityFields()) {
    change.identityColumns << fields_.at(identityField).column;
  }
  change.column = fields_.at(field).column;
  return change;
}
