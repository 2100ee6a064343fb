#include "SqlText.h"

QString QuotedName(const QString& name) {
  return QString::fromUtf8(QuotedIdentifier(name.toUtf8()));
}

QByteArray TextLiteral(const QByteArray& utf8) {
  return "CONVERT(X'" + utf8.toHex() + "' USING utf8mb4)";
}

QString TextLiteral(const QString& text) {
  return QString::fromLatin1(TextLiteral(text.toUtf8()));
}

void AppendHexLiteral(QByteArray& sql, std::optional<QByteArrayView> value, bool text) {
  if (!value) {
    sql += "NULL";
    return;
  }
  static constexpr char Digits[] = "0123456789abcdef";
  // As text a value is converted to its column's character set; as bytes it is not.
  if (text) sql += "_utf8mb4 ";
  sql += "X'";
  const qsizetype start = sql.size();
  sql.resize(start + 2 * value->size());
  char* out = sql.data() + start;
  for (const char byte : *value) {
    *out++ = Digits[uchar(byte) >> 4];
    *out++ = Digits[uchar(byte) & 15];
  }
  sql += '\'';
}

QString WaitingForTheReader() {
  return QStringLiteral("SET STATEMENT net_write_timeout = 86400 FOR ");
}

QString WhereClause(const QString& condition) {
  return condition.isEmpty() ? QString() : QStringLiteral(" WHERE (%1)").arg(condition);
}

QString ReplaceNull(const std::optional<QString>& value, const QString& replacement) {
  return value ? *value : replacement;
}
