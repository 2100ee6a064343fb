#include "RowCondition.h"

#include "Connection.h"
#include "DbError.h"
#include "RecordSet.h"
#include "SqlText.h"

QString WhereClause(const QString& condition) {
  return condition.isEmpty() ? QString() : QStringLiteral(" WHERE (%1)").arg(condition);
}

QString RowsText(const QString& condition) {
  return condition.isEmpty() ? QString() : QStringLiteral("rows where ") + condition;
}

QString RowsHoldingValue(const QString& field, const std::optional<QString>& value) {
  if (!value) return QuotedName(field) + QStringLiteral(" IS NULL");
  QString quoted = *value;
  quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("''"));
  return QStringLiteral("CONVERT(%1 USING utf8mb4) COLLATE utf8mb4_bin = '%2'")
      .arg(QuotedName(field), quoted);
}

QString RowConditionProblem(Connection& connection, const QString& table,
                            const QString& condition) {
  if (condition.isEmpty()) return {};
  // A statement of its own would end the parenthesis early, and a comment would hide it.
  if (condition.contains(u';')) {
    return QStringLiteral("The row condition is one expression, without \";\".");
  }
  try {
    connection.Execute(QStringLiteral("START TRANSACTION READ ONLY"));
    struct RollBack {
      Connection& connection;
      ~RollBack() {
        try {
          connection.Execute(QStringLiteral("ROLLBACK"));
        } catch (const DbError&) {
          // A link that broke has ended the transaction already.
        }
      }
    } rollBack{connection};
    connection.Execute(QStringLiteral("SELECT 1 FROM ") + QuotedName(table) +
                       WhereClause(condition) + QStringLiteral(" LIMIT 0"));
  } catch (const DbError& failure) {
    return QStringLiteral("The row condition cannot be used: %1")
        .arg(QString::fromUtf8(failure.what()));
  }
  return {};
}
