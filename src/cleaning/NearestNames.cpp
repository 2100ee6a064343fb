#include "NearestNames.h"

#include <algorithm>
#include <vector>

namespace {

// Letters to add, drop or change to turn one name into the other.
int editDistance(QStringView a, QStringView b) {
  std::vector<int> row(size_t(b.size()) + 1);
  for (size_t j = 0; j < row.size(); ++j) row[j] = int(j);
  for (qsizetype i = 1; i <= a.size(); ++i) {
    int diagonal = row[0];
    row[0] = int(i);
    for (qsizetype j = 1; j <= b.size(); ++j) {
      const int above = row[size_t(j)];
      row[size_t(j)] =
          std::min({above + 1, row[size_t(j - 1)] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row.back();
}

}  // namespace

QStringList NearestNames(QStringView name, const QStringList& candidates) {
  constexpr int MostEdits = 3;
  const QString typed = name.toString().toLower();
  int best = MostEdits + 1;
  QStringList nearest;
  for (const QString& candidate : candidates) {
    const int distance = editDistance(typed, candidate.toLower());
    if (distance < best) {
      best = distance;
      nearest.clear();
    }
    if (distance == best) nearest << candidate;
  }
  return nearest;
}

QString DidYouMean(const QStringList& nearest) {
  if (nearest.isEmpty()) return {};
  return QStringLiteral(" (did you mean %1?)").arg(nearest.join(QStringLiteral(" or ")));
}
