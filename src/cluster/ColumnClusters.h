#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "ValueClusters.h"

class Connection;

// The distinct values of `field` with their counts, counted on the server (of the rows where
// `rows` holds; empty: every row), as clustering takes them: NULL is never clustered, nor a
// binary value that is not text.
std::vector<ClusterValue> ValuesToCluster(Connection& connection, const QString& table,
                                          const QString& field, const QString& rows);

// The clusters as map-values' pairs, a JSON array: every value of each cluster mapped to
// its suggested value (the suggestion itself left out). In a file, one pair a line, to be
// read and edited; as an operation's answer, on one line.
enum class MapLayout { OnePairALine, OneLine };
QByteArray ClustersAsValueMap(const std::vector<ValueCluster>& clusters,
                              MapLayout layout = MapLayout::OnePairALine);
