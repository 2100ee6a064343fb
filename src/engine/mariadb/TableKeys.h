#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <vector>

#include "ClientHandles.h"

// A unique key of a table: its columns in the key's order, and whether any of them may
// hold a null (then two rows may share its values).
struct UniqueKey {
  QByteArray name;
  QByteArrayList columns;
  bool nullable = false;
  bool primary() const { return name == "PRIMARY"; }
};

// The unique keys of `table` (a quoted name), the primary key first. SHOW KEYS answers at
// once, where information_schema.STATISTICS opens every table of the database.
std::vector<UniqueKey> UniqueKeysOf(MYSQL* mysql, const QByteArray& table);
