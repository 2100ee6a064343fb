#pragma once

#include <QString>
#include <optional>

#include "SqlText.h"

class Connection;

// The user's own SQL condition on a table's rows ("country = 'DE'"), which narrows a run,
// a preview and a list of values to the rows it holds for. Empty: every row.

// Why the condition cannot be used on `table`, in the server's words: it must parse and be
// one expression over the table's columns, and it is tried in a read-only transaction, with
// nothing read. Empty when it can be used.
QString RowConditionProblem(Connection& connection, const QString& table, const QString& condition);
// "rows where country = 'DE'", as runs are described; empty for every row.
QString RowsText(const QString& condition);
// "customers.city", or "customers.city, rows where country = 'DE'".
QString FieldRowsText(const QString& table, const QString& field, const QString& condition);

// A field of a table, on the server that `connectionString` logs in to, and the rows of it
// that a window works on.
struct FieldRows {
  QString connectionString, table, field, rows;
  // As FieldRowsText says it.
  QString text() const { return FieldRowsText(table, field, rows); }
};
