#pragma once

#include <QString>
#include <memory>

#include "RecordSet.h"

class Connection;
class Dialogs;
class ListView;
class ReportingProcedure;
class WindowPointer;

// The main window's three lists, as the browsing procedures read and fill them.
struct BrowserLists {
  ListView& tables;
  ListView& fields;
  ListView& preview;
};

// A table was chosen: lists its fields, then previews the first field. Does nothing when
// no table is selected; reports each failure and goes on; the pointer ends as the default.
void ListTableFields(const BrowserLists& lists, const QString& connectionString,
                     WindowPointer& pointer, Dialogs& dialogs);

// A field was chosen: previews its first values. Does nothing when there are no fields.
void PreviewSelectedField(const BrowserLists& lists, const QString& connectionString,
                          WindowPointer& pointer, Dialogs& dialogs);

// The preview of a field: at most this many values.
inline constexpr int PreviewRows = 101;

// Adds the values of the record set's first field to the preview, row by row, at most
// PreviewRows. `line` numbers the test for the end; the steps of a row take the lines
// after it. A record set that did not open, or whose end cannot be told, adds no more.
void AddPreviewRows(ReportingProcedure& run, int line, const std::unique_ptr<RecordSet>& records,
                    ListView& preview);

// The statements that read a table's fields and a field's values; names are quoted.
// Put before a SELECT whose rows are read while others are written: the server waits for
// the reader as long as a write may take, a report box held open included.
QString WaitingForTheReader();
QString SelectAllStatement(const QString& table);
QString SelectFieldStatement(const QString& field, const QString& table);

// A name between backquotes, each backquote inside it doubled.
QString QuotedName(const QString& name);
// A text as a string literal that no SQL mode reads otherwise.
QString TextLiteral(const QString& text);

// What the server tells of a table of the current database without reading it: its
// storage engine (empty for a view) and its estimated number of rows.
struct TableFacts {
  QString engine;
  qint64 estimatedRows = 0;
};
TableFacts TableFactsOf(Connection& connection, const QString& table);

// The value, or `replacement` when it is null.
QString ReplaceNull(const FieldValue& value, const QString& replacement);
