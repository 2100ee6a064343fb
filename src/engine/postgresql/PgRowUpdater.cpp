#include "PgRowUpdater.h"

#include <QHash>
#include <map>

#include "PgError.h"

PgRowUpdater::PgRowUpdater(PgSession& session, const FieldCollection& fields,
                           const QByteArrayList* knownKey)
    : RowUpdater(fields),
      session_(session),
      table_(PgQuotedName(database_) + '.' + PgQuotedName(tableName_)) {
  if (!knownKey || !takeKey(*knownKey)) findRowKey();
}

// The primary key, else the first unique index of plain columns none of which may be null.
void PgRowUpdater::findRowKey() {
  const PgResult keys = session_.run(
      "SELECT i.indexrelid, i.indisprimary, a.attname, a.attnotnull "
      "FROM pg_index i CROSS JOIN LATERAL unnest(i.indkey::int2[]) WITH ORDINALITY AS k(attnum, n) "
      "JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum "
      "WHERE i.indrelid = $1::regclass AND i.indisunique AND i.indpred IS NULL "
      "AND i.indexprs IS NULL ORDER BY i.indisprimary DESC, i.indexrelid, k.n",
      {{table_}});
  std::map<QByteArray, std::pair<QByteArrayList, bool>> byIndex;  // columns, any nullable
  QByteArrayList order;
  for (int row = 0; row < PQntuples(keys.get()); ++row) {
    const QByteArray index = PQgetvalue(keys.get(), row, 0);
    if (!byIndex.contains(index)) order << index;
    auto& [columns, nullable] = byIndex[index];
    columns << PQgetvalue(keys.get(), row, 2);
    nullable = nullable || QByteArray(PQgetvalue(keys.get(), row, 3)) != "t";
  }
  for (const QByteArray& index : order) {
    const auto& [columns, nullable] = byIndex[index];
    if (!nullable && takeKey(columns)) return;
  }
}

QByteArray PgRowUpdater::column(int field) const {
  return PgQuotedName(fields_.at(field).column);
}

// Byte for byte as read: bytea as its bytes, anything else as the UTF-8 of its text form,
// which is how it was read (concat() uses a type's own output, padding and all).
QByteArray PgRowUpdater::standsAsRead(int field, const FieldBytes& value,
                                      std::vector<PgParameter>& parameters) const {
  if (value.null) return column(field) + " IS NULL";
  parameters.push_back({QByteArray(value.data, qsizetype(value.length)), true});
  const QByteArray parameter = '$' + QByteArray::number(qsizetype(parameters.size()));
  if (fields_.at(field).binary) return column(field) + " = " + parameter + "::bytea";
  return "convert_to(concat(" + column(field) + "), 'UTF8') = " + parameter + "::bytea";
}

QByteArray PgRowUpdater::rowsCondition(const std::vector<FieldBytes>& current,
                                       const std::vector<int>& exactFields,
                                       std::vector<PgParameter>& parameters) const {
  QByteArrayList conditions;
  if (keyed()) {
    // The key by its own equality, which its index serves.
    for (int field : identityFields()) {
      const FieldBytes& value = current[std::size_t(field)];
      parameters.push_back({QByteArray(value.data, qsizetype(value.length)), false});
      conditions << column(field) + " = $" + QByteArray::number(qsizetype(parameters.size()));
    }
  }
  // Without a key, every value finds the row; they include the fields written.
  for (int field : keyed() ? exactFields : identityFields()) {
    conditions << standsAsRead(field, current[std::size_t(field)], parameters);
  }
  return conditions.join(" AND ");
}

QByteArray PgRowUpdater::rowCondition(const std::vector<FieldBytes>& current,
                                      const std::vector<int>& exactFields,
                                      std::vector<PgParameter>& parameters) const {
  const QByteArray rows = rowsCondition(current, exactFields, parameters);
  if (keyed()) return rows;
  // Of rows alike in every value, any one: which of them holds the new value does not matter.
  return "ctid = (SELECT ctid FROM " + table_ + " WHERE " + rows + " LIMIT 1 FOR UPDATE)";
}

void PgRowUpdater::write(const std::vector<FieldBytes>& current, const Assignments& assignments,
                         WriteObserver* observer) {
  if (!tryWrite(current, assignments, observer)) {
    throw DbError(DbMessages::RowNotLocated, 0, "HY000");
  }
}

bool PgRowUpdater::tryWrite(const std::vector<FieldBytes>& current, const Assignments& assignments,
                            WriteObserver* observer) {
  std::vector<PgParameter> parameters;
  QByteArrayList sets;
  std::vector<int> exactFields;
  for (const auto& [field, value] : assignments) {
    if (fields_.at(field).table.isEmpty()) throw DbError(DbMessages::NoBaseTable);
    parameters.push_back({value, fields_.at(field).binary});
    sets << column(field) + " = $" + QByteArray::number(qsizetype(parameters.size())) +
                (fields_.at(field).binary ? "::bytea" : "");
    exactFields.push_back(field);
  }
  // What the row holds once written, read in the same statement: a trigger may change it.
  const int first = assignments.begin()->first;
  const QByteArray holding = fields_.at(first).binary
                                 ? column(first)
                                 : "convert_to(concat(" + column(first) + "), 'UTF8')";
  const QByteArray statement = "UPDATE " + table_ + " SET " + sets.join(", ") + " WHERE " +
                               rowCondition(current, exactFields, parameters) + " RETURNING " +
                               column(first) + " IS NULL, " + holding;
  if (observer) {
    for (const auto& [field, value] : assignments) {
      observer->aboutToWrite(changeOf(current, field, value));
    }
  }
  PgResult result;
  try {
    result = session_.run(statement, parameters, true);
  } catch (const DbError& failure) {
    // A statement on its own commits or fails whole: only a lost link leaves it in doubt.
    if (observer) {
      observer->settled(failure.connectionLost() ? WriteSettled::InDoubt
                                                 : WriteSettled::NotWritten);
    }
    throw;
  }
  const bool written = PQntuples(result.get()) > 0;
  if (!observer) return written;
  std::optional<QByteArray> holds;
  if (written && *PQgetvalue(result.get(), 0, 0) == 0) {
    holds = QByteArray(PQgetvalue(result.get(), 0, 1), PQgetlength(result.get(), 0, 1));
  }
  if (written && assignments.size() == 1 && holds != assignments.begin()->second) {
    observer->settled(WriteSettled::Written, &holds);
  } else {
    observer->settled(written ? WriteSettled::Written : WriteSettled::NotWritten);
  }
  return written;
}

bool PgRowUpdater::rowExists(const std::vector<FieldBytes>& current,
                             const std::vector<int>& exactFields) {
  std::vector<PgParameter> parameters;
  const QByteArray condition = rowsCondition(current, exactFields, parameters);
  return PQntuples(
             session_
                 .run("SELECT 1 FROM " + table_ + " WHERE " + condition + " LIMIT 1", parameters)
                 .get()) > 0;
}
