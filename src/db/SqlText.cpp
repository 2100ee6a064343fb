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

QString WaitingForTheReader() {
  return QStringLiteral("SET STATEMENT net_write_timeout = 86400 FOR ");
}

QString SelectAllStatement(const QString& table) {
  return QStringLiteral("SELECT * FROM ") + QuotedName(table);
}

QString SelectFieldStatement(const QString& field, const QString& table) {
  return QStringLiteral("SELECT ") + QuotedName(field) + QStringLiteral(" FROM ") +
         QuotedName(table);
}

QString WhereClause(const QString& condition) {
  return condition.isEmpty() ? QString() : QStringLiteral(" WHERE (%1)").arg(condition);
}

QString ReplaceNull(const std::optional<QString>& value, const QString& replacement) {
  return value ? *value : replacement;
}
