#pragma once

#include <QString>

// The journal's files and folders, the user's alone; each refusal is a JournalError that
// says why the journal is not kept there.

// A folder of the user's alone: made 0700 when missing; one that is a link, belongs to
// another user or that others may write to is refused.
void RequirePrivateFolder(const QString& folder);
// Opens `path` in a private folder without following a link, as a file of the user's alone
// (0600).
int OpenPrivately(const QString& path, int flags);
// Made readable by the user only, before the database library opens it.
void CreatePrivately(const QString& path);
