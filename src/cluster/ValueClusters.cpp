#include "ValueClusters.h"

#include <QList>
#include <algorithm>
#include <numeric>

#include "Fingerprints.h"
#include "NearestNeighbours.h"
#include "VisibleText.h"

namespace {

// Progress is told this often, in values.
constexpr qint64 ProgressStep = 4096;

// What makes a spelling less likely the one meant: invisible characters, and spaces
// other than one between words (leading, trailing, doubled).
int marks(const QString& text) {
  int count = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u' ') {
      count += i == 0 || i + 1 == text.size() || text[i + 1] == u' ';
    } else if (!VisibleMark(text[i]).isNull()) {
      ++count;
    }
  }
  return count;
}

// Most rows first; then fewest marks; then the longest, as a slip more often leaves a
// letter out than puts one in; then by bytes.
bool moreLikely(const ClusterValue& a, const ClusterValue& b) {
  if (a.rows != b.rows) return a.rows > b.rows;
  const QString textA = QString::fromUtf8(a.value), textB = QString::fromUtf8(b.value);
  const int marksA = marks(textA), marksB = marks(textB);
  if (marksA != marksB) return marksA < marksB;
  const qsizetype lengthA = textA.toUcs4().size(), lengthB = textB.toUcs4().size();
  if (lengthA != lengthB) return lengthA > lengthB;
  return a.value < b.value;
}

ValueCluster clusterOf(std::vector<ClusterValue> values) {
  ValueCluster cluster;
  cluster.suggested = std::min_element(values.begin(), values.end(), moreLikely)->value;
  std::sort(values.begin(), values.end(), [](const ClusterValue& a, const ClusterValue& b) {
    return a.rows != b.rows ? a.rows > b.rows : a.value < b.value;
  });
  for (const ClusterValue& value : values) cluster.rows += value.rows;
  cluster.values = std::move(values);
  return cluster;
}

// The groups of values whose keys are equal.
std::optional<std::vector<std::vector<int>>> collidingGroups(
    const std::vector<ClusterValue>& values, const ClusterSettings& settings,
    const ClusterProgress& progress) {
  const qint64 total = qint64(values.size());
  std::vector<QByteArray> keys(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (progress && qint64(i) % ProgressStep == 0 && !progress(qint64(i), total)) {
      return std::nullopt;
    }
    keys[i] = settings.method == ClusterMethod::Fingerprint
                  ? Fingerprint(values[i].value)
                  : NgramFingerprint(values[i].value, settings.ngram);
  }
  std::vector<int> order(values.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(),
            [&](int a, int b) { return keys[std::size_t(a)] < keys[std::size_t(b)]; });
  std::vector<std::vector<int>> groups;
  for (std::size_t start = 0; start < order.size();) {
    std::size_t end = start + 1;
    const QByteArray& key = keys[std::size_t(order[start])];
    while (end < order.size() && keys[std::size_t(order[end])] == key) ++end;
    if (end - start > 1)
      groups.emplace_back(order.begin() + qsizetype(start), order.begin() + qsizetype(end));
    start = end;
  }
  return groups;
}

}  // namespace

QString ClusterMethodName(ClusterMethod method) {
  switch (method) {
    case ClusterMethod::Fingerprint:
      return QStringLiteral("fingerprint");
    case ClusterMethod::NgramFingerprint:
      return QStringLiteral("ngram-fingerprint");
    case ClusterMethod::Levenshtein:
      return QStringLiteral("levenshtein");
  }
  return {};
}

std::optional<ClusterMethod> ClusterMethodNamed(const QString& name) {
  for (ClusterMethod method :
       {ClusterMethod::Fingerprint, ClusterMethod::NgramFingerprint, ClusterMethod::Levenshtein}) {
    if (ClusterMethodName(method) == name) return method;
  }
  return std::nullopt;
}

QString ClusterSettingsProblem(const ClusterSettings& settings) {
  if (settings.ngram < 1 || settings.ngram > 6) {
    return QStringLiteral("The n-gram size must be from 1 to 6.");
  }
  if (settings.radius < 1 || settings.radius > 5) {
    return QStringLiteral("The radius must be from 1 to 5.");
  }
  if (settings.block < 2 || settings.block > 10) {
    return QStringLiteral("The block size must be from 2 to 10.");
  }
  return {};
}

std::optional<std::vector<ValueCluster>> ClusterValues(std::vector<ClusterValue> values,
                                                       const ClusterSettings& settings,
                                                       const ClusterProgress& progress) {
  std::optional<std::vector<std::vector<int>>> groups;
  if (settings.method == ClusterMethod::Levenshtein) {
    std::vector<QByteArray> texts;
    texts.reserve(values.size());
    for (const ClusterValue& value : values) texts.push_back(value.value);
    const qint64 total = qint64(values.size());
    groups = NeighbourGroups(texts, settings.radius, settings.block,
                             [&](qint64 done) { return !progress || progress(done, total); });
  } else {
    groups = collidingGroups(values, settings, progress);
  }
  if (!groups) return std::nullopt;
  std::vector<ValueCluster> clusters;
  clusters.reserve(groups->size());
  for (const std::vector<int>& group : *groups) {
    std::vector<ClusterValue> members;
    members.reserve(group.size());
    for (int i : group) members.push_back(std::move(values[std::size_t(i)]));
    clusters.push_back(clusterOf(std::move(members)));
  }
  std::sort(clusters.begin(), clusters.end(), [](const ValueCluster& a, const ValueCluster& b) {
    return a.rows != b.rows ? a.rows > b.rows : a.suggested < b.suggested;
  });
  return clusters;
}
