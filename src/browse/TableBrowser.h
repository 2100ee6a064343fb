#pragma once

#include <QString>
#include <memory>

#include "RecordSet.h"
#include "SqlText.h"

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
