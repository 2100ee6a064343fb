#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "FieldCollection.h"
#include "RowChange.h"
#include "RowSource.h"

class Session;

// Of the fields of a result that lists every column of a table, those that writing
// `fields` needs: the ones that find a row (see RowUpdater) and the fields, in the table's
// order. Reading only these spares the columns that a write never touches. `keyColumns`,
// when given, is set to the columns of the row's key (none: the table has no key).
std::vector<int> FieldsForWriting(Session& session, const FieldCollection& tableFields,
                                  const std::vector<int>& fields,
                                  QByteArrayList* keyColumns = nullptr);

// Writes assigned values to the one row that a record set's current row was read from.
// The row is found by the table's primary key, or a unique key without nulls, or else by
// all the values read; the assigned columns' values as read are part of the condition,
// so a row that someone else changed or deleted is not written. Values compare byte for
// byte as read, and at most one row changes. An engine's session makes it
// (Session::rowUpdater); what finds a row and what a change records are decided here.
class RowUpdater {
 public:
  virtual ~RowUpdater() = default;
  RowUpdater(const RowUpdater&) = delete;
  RowUpdater& operator=(const RowUpdater&) = delete;

  using Assignments = std::map<int, std::optional<QByteArray>>;
  // `observer`, when given, is told of each assigned value first.
  virtual void write(const std::vector<FieldBytes>& current, const Assignments& assignments,
                     WriteObserver* observer = nullptr) = 0;
  // As write, but false when the row is not found as `current` describes it.
  virtual bool tryWrite(const std::vector<FieldBytes>& current, const Assignments& assignments,
                        WriteObserver* observer = nullptr) = 0;
  // Whether the row of `current` is there, with `exactFields` holding their values of
  // `current` byte for byte.
  virtual bool rowExists(const std::vector<FieldBytes>& current,
                         const std::vector<int>& exactFields) = 0;
  // Whether each write is read back: a trigger of the table may change values written.
  virtual bool readsBack() const = 0;
  // Whether the values of `field` compare as the bytes that were read, in any statement.
  virtual bool comparesAsBytes(int field) const = 0;

  // The columns of the key that finds a row; none when rows are found by all their values.
  QByteArrayList keyColumns() const;
  // The fields that find a row: its key, or all the table's fields.
  const std::vector<int>& identityFields() const;
  bool keyed() const { return !keyFields_.empty(); }
  // A row as the updater reads it, indexed by field, from an identity's values (the first
  // ones of `identity` are used) and `field`'s value. Views into the values given.
  std::vector<FieldBytes> rowOf(const RowValues& identity, int field,
                                const std::optional<QByteArray>& value) const;
  // The change that writing `after` into `field` of the row of `current` makes.
  RowChange changeOf(const std::vector<FieldBytes>& current, int field,
                     const std::optional<QByteArray>& after) const;
  // The same, of a row given by its identity's values and the field's value as read.
  RowChange changeOf(std::span<const std::optional<QByteArrayView>> identity, int field,
                     std::optional<QByteArrayView> before,
                     std::optional<QByteArrayView> after) const;
  // A change of `field` with no values yet: the columns that tell its row, and its own.
  RowChange changeShape(int field) const;

 protected:
  // Throws DbError when `fields` are not all of one base table.
  explicit RowUpdater(const FieldCollection& fields);
  // Finds rows by the key of these columns, where the result holds them all; else false.
  bool takeKey(const QByteArrayList& columns);

  const FieldCollection& fields_;
  QByteArray database_, tableName_;  // as they are
  std::vector<int> tableFields_;     // the fields that are columns of that table
  std::vector<int> keyFields_;       // empty: the row is found by all its values
};
