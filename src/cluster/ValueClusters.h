#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

// One distinct value of a column, as UTF-8, and how many rows hold it.
struct ClusterValue {
  QByteArray value;
  qint64 rows = 0;
};

// Values that look like spellings of one thing, and what they would all become.
struct ValueCluster {
  std::vector<ClusterValue> values;  // most rows first, ties by their bytes
  // The most frequent value; of values as frequent, the one with the fewest invisible
  // characters and stray spaces, then the longest, then the first by its bytes.
  QByteArray suggested;
  qint64 rows = 0;  // of all its values
};

enum class ClusterMethod {
  Fingerprint,       // the same words, whatever their case, accents, punctuation and order
  NgramFingerprint,  // the same character n-grams, once normalized and without spaces
  Levenshtein,       // within an edit distance of each other, by way of values in between
};

struct ClusterSettings {
  ClusterMethod method = ClusterMethod::Fingerprint;
  int ngram = 2;   // 1 to 6: the n of the n-gram fingerprint
  int radius = 2;  // 1 to 5: the most edits between neighbours
  int block = 6;   // 2 to 10: values are compared only when they share a substring this long
};

// The names that the terminal and recipes use: "fingerprint", "ngram-fingerprint",
// "levenshtein".
QString ClusterMethodName(ClusterMethod method);
std::optional<ClusterMethod> ClusterMethodNamed(const QString& name);
// Why `settings` cannot be used, in the user's words; empty when they can.
QString ClusterSettingsProblem(const ClusterSettings& settings);

// Told how far the work is (`done` of `total` steps); returning false stops it.
using ClusterProgress = std::function<bool(qint64 done, qint64 total)>;

// The clusters of two or more of `values` (distinct, none NULL) by `settings`' method,
// largest first (by rows, then by the suggested value's bytes). Nothing when `progress`
// stopped it.
std::optional<std::vector<ValueCluster>> ClusterValues(std::vector<ClusterValue> values,
                                                       const ClusterSettings& settings,
                                                       const ClusterProgress& progress = {});
