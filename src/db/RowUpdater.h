#pragma once

#include <QByteArray>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "ClientHandles.h"
#include "FieldCollection.h"
#include "RowSource.h"

class Session;

// Writes assigned values to the one row that a record set's current row was read from.
// The row is found by the table's primary key, or a unique key without nulls, or else by
// all the values read; the assigned columns' values as read are part of the condition,
// so a row that someone else changed or deleted is not written. Comparisons are byte for
// byte, values travel as parameters of prepared statements, and at most one row changes.
class RowUpdater {
 public:
  RowUpdater(Session& session, const FieldCollection& fields);
  ~RowUpdater();

  using Assignments = std::map<int, std::optional<QByteArray>>;
  void write(const std::vector<FieldBytes>& current, const Assignments& assignments);

 private:
  struct Statement;
  Statement& statementFor(const Assignments& assignments);
  void findRowKey();

  Session& session_;
  const FieldCollection& fields_;
  QByteArray table_;              // quoted `database`.`table`
  std::vector<int> tableFields_;  // the fields that are columns of that table
  std::vector<int> keyFields_;    // empty: the row is found by all its values
  std::map<QByteArray, std::unique_ptr<Statement>> statements_;
};
