#include "ClusterListModel.h"

#include "ColumnClusters.h"
#include "RunProgress.h"
#include "VisibleText.h"

namespace {

// A value as the list shows it: invisible characters marked, the empty text named.
QString listed(const QByteArray& value) {
  return value.isEmpty() ? QStringLiteral("(empty text)")
                         : WithVisibleMarks(QString::fromUtf8(value));
}

QString valuesText(const ValueCluster& cluster) {
  QStringList values;
  for (const ClusterValue& value : cluster.values) {
    values << QStringLiteral("%1 (%2)").arg(listed(value.value), CountText(value.rows));
  }
  return values.join(QStringLiteral(", "));
}

}  // namespace

void ClusterListModel::show(std::vector<ValueCluster> clusters) {
  beginResetModel();
  shown_.clear();
  shown_.reserve(clusters.size());
  for (ValueCluster& cluster : clusters) {
    QString text = valuesText(cluster);
    shown_.push_back({std::move(cluster), std::move(text), false});
  }
  ticked_ = 0;
  endResetModel();
}

qint64 ClusterListModel::rowsChanged(const ValueCluster& cluster) {
  qint64 rows = 0;
  for (const ClusterValue& value : cluster.values) {
    if (value.value != cluster.suggested) rows += value.rows;
  }
  return rows;
}

QString ClusterListModel::tickedMap() const {
  std::vector<ValueCluster> ticked;
  for (const Shown& shown : shown_) {
    if (shown.ticked) ticked.push_back(shown.cluster);
  }
  return QString::fromUtf8(ClustersAsValueMap(ticked, MapLayout::OneLine));
}

qint64 ClusterListModel::tickedRows() const {
  qint64 rows = 0;
  for (const Shown& shown : shown_) {
    if (shown.ticked) rows += rowsChanged(shown.cluster);
  }
  return rows;
}

int ClusterListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(shown_.size());
}

int ClusterListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant ClusterListModel::data(const QModelIndex& index, int role) const {
  const Shown& shown = shown_[std::size_t(index.row())];
  const QString newValue = QString::fromUtf8(shown.cluster.suggested);
  switch (index.column()) {
    case Merge:
      if (role == Qt::CheckStateRole) return shown.ticked ? Qt::Checked : Qt::Unchecked;
      if (role == Qt::AccessibleTextRole) return shown.ticked ? "ticked" : "not ticked";
      return {};
    case Values:
      if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return shown.valuesText;
      return {};
    case NewValue:
      if (role == Qt::DisplayRole) return listed(shown.cluster.suggested);
      if (role == Qt::EditRole) return newValue;
      return {};
    default:
      if (role == Qt::DisplayRole) return CountText(rowsChanged(shown.cluster));
      if (role == Qt::TextAlignmentRole) return int(Qt::AlignRight | Qt::AlignVCenter);
      return {};
  }
}

bool ClusterListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  Shown& shown = shown_[std::size_t(index.row())];
  if (index.column() == Merge && role == Qt::CheckStateRole) {
    const bool tick = value.toInt() == Qt::Checked;
    if (tick == shown.ticked) return false;
    shown.ticked = tick;
    ticked_ += tick ? 1 : -1;
  } else if (index.column() == NewValue && role == Qt::EditRole) {
    shown.cluster.suggested = value.toString().toUtf8();
  } else {
    return false;
  }
  // The rows changed follow the new value.
  emit dataChanged(this->index(index.row(), Merge), this->index(index.row(), Rows));
  return true;
}

Qt::ItemFlags ClusterListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == Merge) flags |= Qt::ItemIsUserCheckable;
  if (index.column() == NewValue) flags |= Qt::ItemIsEditable;
  return flags;
}

QVariant ClusterListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  static const QString Headers[] = {QStringLiteral("Merge"), QStringLiteral("Values (rows)"),
                                    QStringLiteral("New value"), QStringLiteral("Rows changed")};
  return Headers[section];
}
