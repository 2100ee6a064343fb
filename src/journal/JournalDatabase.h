#pragma once

#include <QString>

struct sqlite3;

// A connection to the journal's database with what every connection to it takes: a wait
// for another's lock, commits that survive the program being killed, and its references
// kept. Throws JournalError.
sqlite3* OpenJournalDatabase(const QString& path);
// Runs `sql` on `db`; throws JournalError.
void ExecJournalSql(sqlite3* db, const char* sql);
