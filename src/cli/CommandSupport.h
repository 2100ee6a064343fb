#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "CleanOptions.h"

class Connection;
class DbError;
class Journal;
struct RunSummary;

// What klarifeld-clean's commands share: how they say things, connect and end.

// "klarifeld-clean: " and the line on standard error, control characters marked.
void Fail(const QString& line);
// The journal's damage found as it opened, said once by whichever command opens it.
void TellDamage(const Journal& journal);
// The connection string of the options, or as the login window last connected with
// --profile; nothing, after saying why, for a stored encryption setting that is not known.
std::optional<QString> ConnectionStringFor(const CleanOptions& options);
// The table's fields, and the one the options name as the table spells it (column names
// are the same in any case, as the server takes them); nothing, once said why, when the
// table or the field is not there.
struct ChosenField {
  QStringList fields;
  QString field;
};
std::optional<ChosenField> ChosenFieldOf(Connection& connection, const CleanOptions& options);
// Says why the first connection failed; the exit status.
int FailedToConnect(const DbError& failure, const CleanOptions& options);
// The exit status of a run, an undo or a recipe that ended so.
int StatusOf(const RunSummary& summary);
// How to take a run back, when it wrote anything.
void TellJournaled(const std::optional<RunSummary>& summary);
// UTF-8 text as a JSON string, appended to `out`.
void AppendJsonString(QByteArray& out, QByteArrayView utf8);
// Lines of cells in columns two spaces apart, the first line being the header.
void PrintAligned(const QList<QStringList>& lines);
