// klarifeld-clean --cluster: the spellings of one thing among a column's values, with what
// each cluster would become; written as map-values' pairs with --map-out.
#include <unistd.h>

#include <QSaveFile>
#include <cstdio>
#include <iostream>

#include "ColumnClusters.h"
#include "CommandSupport.h"
#include "Commands.h"
#include "Connection.h"
#include "DbError.h"
#include "RowCondition.h"
#include "VisibleText.h"

namespace {

std::optional<ClusterSettings> settingsOf(const CleanOptions& options) {
  const std::optional<ClusterMethod> method = ClusterMethodNamed(options.cluster);
  if (!method) {
    Fail(QStringLiteral("--cluster takes fingerprint, ngram-fingerprint or levenshtein."));
    return std::nullopt;
  }
  const bool levenshtein = *method == ClusterMethod::Levenshtein;
  if ((options.ngram && *method != ClusterMethod::NgramFingerprint) ||
      ((options.radius || options.block) && !levenshtein)) {
    Fail(
        QStringLiteral("--ngram goes with --cluster ngram-fingerprint; --radius and --block "
                       "with --cluster levenshtein."));
    return std::nullopt;
  }
  ClusterSettings settings;
  settings.method = *method;
  settings.ngram = int(std::min<qint64>(options.ngram.value_or(settings.ngram), 99));
  settings.radius = int(std::min<qint64>(options.radius.value_or(settings.radius), 99));
  settings.block = int(std::min<qint64>(options.block.value_or(settings.block), 99));
  if (const QString problem = ClusterSettingsProblem(settings); !problem.isEmpty()) {
    Fail(problem);
    return std::nullopt;
  }
  return settings;
}

void appendText(QByteArray& out, const ValueCluster& cluster, int number) {
  out += "Cluster " + QByteArray::number(number) + ": " + QByteArray::number(cluster.rows) +
         " rows in " + QByteArray::number(qsizetype(cluster.values.size())) +
         " values, suggested: ";
  AppendWithVisibleMarks(out, cluster.suggested);
  out += '\n';
  for (const ClusterValue& value : cluster.values) {
    out += QByteArray::number(value.rows) + '\t';
    AppendWithVisibleMarks(out, value.value);
    out += '\n';
  }
  out += '\n';
}

void appendJson(QByteArray& out, const ValueCluster& cluster) {
  out += "{\"values\": [";
  for (const ClusterValue& value : cluster.values) {
    if (&value != &cluster.values.front()) out += ", ";
    out += "{\"value\": ";
    AppendJsonString(out, value.value);
    out += ", \"count\": " + QByteArray::number(value.rows) + '}';
  }
  out += "], \"suggested\": ";
  AppendJsonString(out, cluster.suggested);
  out += ", \"rows\": " + QByteArray::number(cluster.rows) + "}\n";
}

void print(const std::vector<ValueCluster>& clusters, bool json) {
  QByteArray out;
  int number = 0;
  for (const ValueCluster& cluster : clusters) {
    json ? appendJson(out, cluster) : appendText(out, cluster, ++number);
    if (out.size() > (1 << 16)) {
      std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
      out.clear();
    }
  }
  if (!json) {
    out += QByteArray::number(qsizetype(clusters.size())) +
           (clusters.size() == 1 ? " cluster.\n" : " clusters.\n");
  }
  std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
  std::fflush(stdout);
}

// How far the clustering is, on stderr while it is a terminal.
ClusterProgress terminalProgress() {
  if (!isatty(STDERR_FILENO)) return {};
  return [](qint64 done, qint64 total) {
    std::cerr << "\rClustering " << total << " values: " << (total ? done * 100 / total : 100)
              << "%" << (done == total ? "\n" : "") << std::flush;
    return true;
  };
}

}  // namespace

int ClusterFieldValues(const CleanOptions& options) {
  const std::optional<ClusterSettings> settings = settingsOf(options);
  if (!settings) return UsageError;
  // Opened first, so that a file that cannot be written is said before the work.
  QSaveFile mapOut(options.mapOut);
  if (!options.mapOut.isEmpty() && !mapOut.open(QIODevice::WriteOnly)) {
    Fail(QStringLiteral("Cannot write '%1': %2").arg(options.mapOut, mapOut.errorString()));
    return UsageError;
  }
  const std::optional<QString> connectionString = ConnectionStringFor(options);
  if (!connectionString) return UsageError;
  Connection connection;
  connection.CommandTimeout = 0;  // a big column takes its time; Ctrl+C ends it
  std::vector<ClusterValue> values;
  try {
    connection.Open(*connectionString);
    const std::optional<ChosenField> chosen = ChosenFieldOf(connection, options);
    if (!chosen) return UsageError;
    if (const QString problem = RowConditionProblem(connection, options.table, options.where);
        !problem.isEmpty()) {
      Fail(problem);
      return UsageError;
    }
    values = ValuesToCluster(connection, options.table, chosen->field, options.where);
  } catch (const DbError& failure) {
    return FailedToConnect(failure, options);
  }
  const std::vector<ValueCluster> clusters =
      *ClusterValues(std::move(values), *settings, terminalProgress());
  print(clusters, options.json);
  if (!options.mapOut.isEmpty()) {
    mapOut.write(ClustersAsValueMap(clusters));
    if (!mapOut.commit()) {
      Fail(QStringLiteral("Cannot write '%1': %2").arg(options.mapOut, mapOut.errorString()));
      return SomeReported;
    }
  }
  return AllWritten;
}
