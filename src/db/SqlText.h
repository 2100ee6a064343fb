#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class Connection;

// Names and texts as they go into a statement, and the statements that read a table.

// A name between backquotes, each backquote inside it doubled.
inline QByteArray QuotedIdentifier(QByteArrayView name) {
  return '`' + name.toByteArray().replace('`', "``") + '`';
}
QString QuotedName(const QString& name);
// A text as a string literal that no SQL mode and no character set reads otherwise.
QByteArray TextLiteral(const QByteArray& utf8);
QString TextLiteral(const QString& text);
// Appends `value` as a hex literal, or NULL: as text (converted to the column's character
// set) or as bytes (kept as they are). Quick: a chunk's statement holds thousands.
void AppendHexLiteral(QByteArray& sql, std::optional<QByteArrayView> value, bool text);

// Put before a SELECT whose rows are read while others are written: the server waits for
// the reader as long as a write may take, a report box held open included.
QString WaitingForTheReader();

// " WHERE (condition)" for the user's condition on rows, or nothing for every row.
QString WhereClause(const QString& condition);

// The value, or `replacement` when it is null.
QString ReplaceNull(const std::optional<QString>& value, const QString& replacement);
