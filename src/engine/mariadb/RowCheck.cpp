#include "RowCheck.h"

#include "SqlText.h"

QByteArray BytesAsRead(const FieldInfo& field, const QByteArray& qualifier) {
  const QByteArray column = qualifier + QuotedIdentifier(field.column);
  return field.binary ? column : "CAST(CONVERT(" + column + " USING utf8mb4) AS BINARY)";
}

QByteArray StandsAsRead(const FieldInfo& field, const QByteArray& qualifier,
                        const QByteArray& asRead) {
  return BytesAsRead(field, qualifier) + " <=> " + asRead;
}
