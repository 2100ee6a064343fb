#include "RowCondition.h"

#include "Engine.h"
#include "SqlText.h"

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
  const QString problem = EngineOf(connection).rowConditionProblem(connection, table, condition);
  if (problem.isEmpty()) return {};
  return QStringLiteral("The row condition cannot be used: %1").arg(problem);
}
