#pragma once

#include <QByteArray>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "ClientHandles.h"
#include "FieldCollection.h"
#include "RowChange.h"
#include "RowCheck.h"
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
// byte as read (BIT values as numbers, FLOAT keys near and as shown), travel as parameters
// of prepared statements, and at most one row changes.
class RowUpdater {
 public:
  // `knownKey`, when given, names the key's columns as found a moment ago on the same
  // table (none: it has no key), which spares asking the server again.
  RowUpdater(Session& session, const FieldCollection& fields,
             const QByteArrayList* knownKey = nullptr);
  // The columns of the key that finds a row; none when rows are found by all their values.
  QByteArrayList keyColumns() const;
  ~RowUpdater();

  using Assignments = std::map<int, std::optional<QByteArray>>;
  // `observer`, when given, is told of each assigned value first.
  void write(const std::vector<FieldBytes>& current, const Assignments& assignments,
             WriteObserver* observer = nullptr);
  // As write, but false when the row is not found as `current` describes it.
  bool tryWrite(const std::vector<FieldBytes>& current, const Assignments& assignments,
                WriteObserver* observer = nullptr);
  // Whether the row of `current` is there, with `exactFields` holding their values of
  // `current` byte for byte.
  bool rowExists(const std::vector<FieldBytes>& current, const std::vector<int>& exactFields);

  // The fields that find a row: its key, or all the table's fields.
  const std::vector<int>& identityFields() const;
  bool keyed() const { return !keyFields_.empty(); }
  // Whether each write is read back: a trigger of the table may change values written.
  bool readsBack() const;
  // The table, quoted: `database`.`table`.
  const QByteArray& table() const { return table_; }
  // Whether the values of `field` compare as the bytes that were read, in any statement
  // (not FLOAT, which is found near its shown value, nor BIT, found as a number).
  bool comparesAsBytes(int field) const;
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

 private:
  // How the row condition matches one field's value as read.
  struct Match {
    enum Form {
      KeyEqual,   // by the key's own equality, which its index serves
      ShownKey,   // a FLOAT key: near the value shown, and shown alike
      ByteExact,  // byte for byte, as read; null-safe
      Bits,       // a BIT column, as the number that its bytes spell; null-safe
    };
    int field;
    Form form;
  };
  struct Statement;
  Statement& statementFor(const Assignments& assignments);
  Statement& prepared(const QByteArray& cacheKey, const QByteArray& head,
                      const std::vector<int>& exactFields, const QByteArray& tail);
  class Parameters;
  void bindConditions(Parameters& parameters, const Statement& statement,
                      const std::vector<FieldBytes>& current) const;
  Match::Form matchOfKey(int field) const;
  QByteArray condition(const Match& match) const;
  void findRowKey();
  bool takeKey(const QByteArrayList& columns);
  bool hasTriggerBeforeUpdate() const;
  std::optional<QByteArray> valueOf(const std::vector<FieldBytes>& current, int field);

  Session& session_;
  const FieldCollection& fields_;
  QByteArray table_;                       // quoted `database`.`table`
  QByteArray database_, tableName_;        // as they are
  std::vector<int> tableFields_;           // the fields that are columns of that table
  std::vector<int> keyFields_;             // empty: the row is found by all its values
  mutable std::optional<bool> readsBack_;  // not asked yet
  std::map<QByteArray, std::unique_ptr<Statement>> statements_;
};
