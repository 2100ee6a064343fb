#include "TableBrowser.h"

#include "Connection.h"
#include "Engine.h"
#include "Events.h"
#include "ListView.h"
#include "ReportingProcedure.h"
#include "RowSource.h"
#include "WindowPointer.h"

namespace {
// The location tags that error reports show, as users and support know them.
const QString TableClickedTag = QStringLiteral("Klarifeld2021/08/31.Form2.ListView1_Click");
const QString FieldClickedTag = QStringLiteral("Klarifeld2021/08/31.Form2.ListView2_Click");
}  // namespace

void AddPreviewRows(ReportingProcedure& run, int line, const std::unique_ptr<RecordSet>& records,
                    ListView& preview) {
  for (int rows = 0; rows < PreviewRows && records && records->isOpen(); ++rows) {
    bool more = false;
    run.step(line, [&] { more = !records->Eof(); });
    if (!more) return;
    run.step(line + 2, [] { LetPendingEventsRun(); });
    run.step(line + 4, [&] {
      const FieldValue value = records->Value(0);
      preview.addValue(ReplaceNull(value, QString()), !value);
    });
    run.step(line + 6, [&] { records->MoveNext(); });
  }
}

namespace {
std::unique_ptr<Connection> readWriteConnection() {
  auto connection = CreateObjectAs<Connection>(u"ADODB.Connection");
  connection->Mode = 3;
  return connection;
}
}  // namespace

void ListTableFields(const BrowserLists& lists, const QString& connectionString,
                     WindowPointer& pointer, Dialogs& dialogs) {
  if (lists.tables.selectedIndex() < 0) return;
  ReportingProcedure run(dialogs, TableClickedTag);
  std::unique_ptr<Connection> connection;
  std::unique_ptr<RecordSet> records;
  QString table;
  qint16 lastField = -1;

  run.step(100, [&] { connection = readWriteConnection(); });
  run.step(102, [&] { records = CreateObjectAs<RecordSet>(u"ADODB.RecordSet"); });
  run.step(104, [&] { pointer.setPointer(Pointer::Hourglass); });
  run.step(106, [&] { Required(connection).Open(connectionString); });
  run.step(108, [&] { table = lists.tables.selectedText(); });
  run.step(110, [&] {
    Required(records).Open(EngineOf(Required(connection)).selectAll(table), Required(connection),
                           RecordSet::Static, RecordSet::Optimistic);
  });
  run.step(112, [&] { lists.fields.clear(); });
  run.step(114, [&] { lists.preview.clear(); });
  run.step(116, [&] { lastField = qint16(Required(records).Fields().count() - 1); });
  for (qint16 i = 0; i <= lastField; ++i) {
    run.step(118, [] { LetPendingEventsRun(); });
    run.step(120, [&] { lists.fields.addItem(Required(records).Fields().Name(i)); });
  }
  run.step(122, [&] { pointer.setPointer(Pointer::Default); });
  if (run.test(124, [&] { return lists.fields.count() >= 1; })) {
    run.step(126, [&] { PreviewSelectedField(lists, connectionString, pointer, dialogs); });
  }
}

void PreviewSelectedField(const BrowserLists& lists, const QString& connectionString,
                          WindowPointer& pointer, Dialogs& dialogs) {
  if (lists.fields.count() == 0) return;
  ReportingProcedure run(dialogs, FieldClickedTag);
  std::unique_ptr<Connection> connection;
  std::unique_ptr<RecordSet> records;
  QString field, table;

  run.step(100, [&] { connection = readWriteConnection(); });
  run.step(102, [&] { records = CreateObjectAs<RecordSet>(u"ADODB.RecordSet"); });
  run.step(104, [&] { pointer.setPointer(Pointer::Hourglass); });
  run.step(106, [&] { Required(connection).Open(connectionString); });
  run.step(108, [&] { field = lists.fields.selectedText(); });
  run.step(110, [&] { table = lists.tables.selectedText(); });
  run.step(112, [&] {
    Required(records).Open(EngineOf(Required(connection)).selectField(field, table),
                           Required(connection), RecordSet::Static, RecordSet::Optimistic);
  });
  run.step(114, [&] { lists.preview.clear(); });
  run.step(116, [] { LetPendingEventsRun(); });
  AddPreviewRows(run, 118, records, lists.preview);
  run.step(126, [&] { Required(records).Close(); });
  run.step(128, [&] { pointer.setPointer(Pointer::Default); });
}
