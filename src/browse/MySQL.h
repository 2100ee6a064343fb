#pragma once

#include <QString>

class Dialogs;
class ListView;

// True when a connection opens with `connectionString`; shows nothing.
bool CheckMySQLConnection(const QString& connectionString);

// Adds the database's tables to the end of `list`, leaving out those whose names begin
// with "sys" in any case. Reports each failure and goes on.
void AddMySQLToList1(ListView& list, const QString& connectionString, Dialogs& dialogs);
