#include "ColumnClusters.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "ColumnValues.h"
#include "VisibleText.h"

std::vector<ClusterValue> ValuesToCluster(Connection& connection, const QString& table,
                                          const QString& field, const QString& rows) {
  std::vector<ClusterValue> values;
  ForEachDistinctValue(connection, table, field, rows, 0, [&](const ValueCount& counted) {
    if (counted.value && IsUtf8(*counted.value)) values.push_back({*counted.value, counted.rows});
    return true;
  });
  return values;
}

QByteArray ClustersAsValueMap(const std::vector<ValueCluster>& clusters, MapLayout layout) {
  const bool lines = layout == MapLayout::OnePairALine;
  QByteArray map = "[";
  for (const ValueCluster& cluster : clusters) {
    const QString suggested = QString::fromUtf8(cluster.suggested);
    for (const ClusterValue& value : cluster.values) {
      if (value.value == cluster.suggested) continue;
      if (map.size() > 1) map += ',';
      if (lines) map += "\n ";
      map += QJsonDocument(QJsonArray{QString::fromUtf8(value.value), suggested})
                 .toJson(QJsonDocument::Compact);
    }
  }
  return lines ? map + "\n]\n" : map + ']';
}
