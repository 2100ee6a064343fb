#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "ValueClusters.h"

// Clusters of a column's values as a table, one cluster a row: a tick (none until the
// user ticks), its values with their rows (invisible characters marked), the value they
// become (the suggestion until edited) and the rows that merging would change.
class ClusterListModel : public QAbstractTableModel {
 public:
  enum Column { Merge, Values, NewValue, Rows, ColumnCount };
  explicit ClusterListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  void show(std::vector<ValueCluster> clusters);
  int ticked() const { return ticked_; }
  // The ticked clusters as map-values' pairs, each value to the cluster's new value.
  QString tickedMap() const;
  // The rows that merging the ticked clusters would change.
  qint64 tickedRows() const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Shown {
    ValueCluster cluster;  // its suggested value is the new value, as edited
    QString valuesText;    // "New·York (40), new·york (3)"
    bool ticked = false;
  };
  static qint64 rowsChanged(const ValueCluster& cluster);

  std::vector<Shown> shown_;
  int ticked_ = 0;
};
