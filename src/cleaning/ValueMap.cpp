#include "ValueMap.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <optional>

namespace {

std::optional<QHash<QString, QString>> parsed(const QString& map, QString* problem) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(map.toUtf8(), &error);
  const auto refuse = [&](const QString& why) -> std::optional<QHash<QString, QString>> {
    if (problem) *problem = why;
    return std::nullopt;
  };
  if (error.error != QJsonParseError::NoError || !document.isArray()) {
    return refuse(QStringLiteral("The map is a JSON array of [old, new] pairs of texts."));
  }
  QHash<QString, QString> pairs;
  for (const QJsonValue& pair : document.array()) {
    const QJsonArray texts = pair.toArray();
    if (!pair.isArray() || texts.size() != 2 || !texts[0].isString() || !texts[1].isString()) {
      return refuse(QStringLiteral("The map is a JSON array of [old, new] pairs of texts."));
    }
    const QString old = texts[0].toString();
    if (pairs.contains(old)) {
      return refuse(QStringLiteral("The map gives \"%1\" twice.").arg(old));
    }
    pairs.insert(old, texts[1].toString());
  }
  return pairs;
}

}  // namespace

QString ValueMapProblem(const QString& map) {
  QString problem;
  parsed(map, &problem);
  return problem;
}

// A run asks for each record with the same map: it is read once per thread.
QString MapValue(const QString& text, const QString& map) {
  thread_local QString readMap;
  thread_local QHash<QString, QString> pairs;
  if (map != readMap) {
    pairs = parsed(map, nullptr).value_or(QHash<QString, QString>());
    readMap = map;
  }
  const auto found = pairs.constFind(text);
  return found == pairs.constEnd() ? text : found.value();
}
