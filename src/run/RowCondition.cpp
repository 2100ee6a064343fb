#include "RowCondition.h"

#include "Engine.h"
#include "SqlText.h"

QString RowsText(const QString& condition) {
  return condition.isEmpty() ? QString() : QStringLiteral("rows where ") + condition;
}

QString FieldRowsText(const QString& table, const QString& field, const QString& condition) {
  const QString place = table + u'.' + field;
  return condition.isEmpty() ? place : place + QStringLiteral(", ") + RowsText(condition);
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
