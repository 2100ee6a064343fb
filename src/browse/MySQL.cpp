#include "MySQL.h"

#include "Connection.h"
#include "DbObject.h"
#include "Engine.h"
#include "Events.h"
#include "ListView.h"
#include "RecordSet.h"
#include "ReportingProcedure.h"

bool CheckMySQLConnection(const QString& connectionString) {
  const auto connection = CreateObjectAs<Connection>(u"ADODB.Connection");
  try {
    connection->Open(connectionString);
    return true;
  } catch (...) {
    return false;
  }
}

namespace {
// The location tag that error reports show, as users and support know it.
const QString AddToListTag = QStringLiteral("Klarifeld2021/08/31.MySQL.AddMySQLToList1");

bool isSystemTable(const FieldValue& name) {
  return name.value_or(QString()).left(3).toLower() == u"sys";
}
}  // namespace

void AddMySQLToList1(ListView& list, const QString& connectionString, Dialogs& dialogs) {
  ReportingProcedure run(dialogs, AddToListTag);
  std::unique_ptr<Connection> connection;
  std::unique_ptr<RecordSet> tables;
  std::optional<qint32> count;

  run.step(100, [&] { connection = CreateObjectAs<Connection>(u"ADODB.Connection"); });
  run.step(102, [&] { tables = CreateObjectAs<RecordSet>(u"ADODB.RecordSet"); });
  run.step(104, [&] { Required(connection).CursorLocation = Connection::UseClient; });
  run.step(106, [&] { Required(connection).Open(connectionString); });
  run.step(108, [&] {
    tables = Required(connection).Execute(EngineOf(Required(connection)).tableListStatement());
  });
  run.step(110, [&] { count = Required(tables).RecordCount(); });
  // Without a count there are no rows to read.
  for (qint32 i = 1; count && i <= *count; ++i) {
    run.step(112, [] { LetPendingEventsRun(); });
    if (run.test(114, [&] { return !isSystemTable(Required(tables).Value(0)); })) {
      run.step(116, [&] { list.addItem(Required(tables).Value(0).value_or(QString())); });
    }
    run.step(118, [&] { Required(tables).MoveNext(); });
  }
  run.step(122, [&] { Required(tables).Close(); });
  run.step(124, [&] { Required(connection).Close(); });
}
