// Clustering a column's distinct values, each method once, after the server's counts have
// arrived: a column of 10,000,000 rows with 1,000,000 distinct name-like values (a sixth of
// them other spellings of the rest), unless KLARIFELD_BENCH_CLUSTER_ROWS says how many rows
// (a tenth of them distinct). The client's peak memory is said after each method.
#include <benchmark/benchmark.h>

#include <QStringList>

#include "BenchDatabase.h"
#include "ClusterValues.h"
#include "ColumnClusters.h"
#include "Connection.h"
#include "SqlText.h"
#include "TestServer.h"

namespace {

qint64 benchRows() {
  const qint64 asked = qEnvironmentVariableIntValue("KLARIFELD_BENCH_CLUSTER_ROWS");
  return asked > 0 ? asked : 10'000'000;
}

// The distinct values, then the column that holds each of them about ten times.
QString prepare(qint64 rows) {
  const QString table = QStringLiteral("bench_cluster_%1").arg(rows);
  ExecOnServer("CREATE DATABASE IF NOT EXISTS " + BenchDatabaseName);
  const Database db(BenchDatabaseName);
  const Column found =
      db.column("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = '" +
                BenchDatabaseName + "' AND TABLE_NAME = '" + table + "'");
  if (found[0] != "0") return table;
  const qint64 distinct = rows / 10;
  db.exec("CREATE OR REPLACE TABLE bench_cluster_names (id INT PRIMARY KEY, v VARCHAR(60))");
  const std::vector<QByteArray> names = NameLikeValues(int(distinct));
  constexpr std::size_t Batch = 5000;
  for (std::size_t start = 0; start < names.size(); start += Batch) {
    QStringList rowsOfBatch;
    for (std::size_t i = start; i < std::min(names.size(), start + Batch); ++i) {
      rowsOfBatch
          << QStringLiteral("(%1, %2)").arg(i + 1).arg(QString::fromUtf8(TextLiteral(names[i])));
    }
    db.exec("INSERT INTO bench_cluster_names VALUES " + rowsOfBatch.join(u','));
  }
  db.exec(QStringLiteral("CREATE TABLE %1 (id INT PRIMARY KEY, v VARCHAR(60));"
                         "INSERT INTO %1 SELECT seq, n.v FROM seq_1_to_%2 AS s "
                         "JOIN bench_cluster_names AS n ON n.id = 1 + MOD(seq * 7919, %3)")
              .arg(table)
              .arg(rows)
              .arg(distinct));
  return table;
}

void ClusterMethodsAfterCounts(benchmark::State& state) {
  const QString table = prepare(benchRows());
  for (auto _ : state) {
    Connection connection;
    connection.CommandTimeout = 0;
    connection.Open(BenchConnectionString());
    std::vector<ClusterValue> values;
    state.counters["counts_s"] =
        SecondsOf([&] { values = ValuesToCluster(connection, table, "v", {}); });
    state.counters["distinct_values"] = double(values.size());
    double total = 0;
    for (ClusterMethod method : {ClusterMethod::Fingerprint, ClusterMethod::NgramFingerprint,
                                 ClusterMethod::Levenshtein}) {
      ClusterSettings settings;
      settings.method = method;  // n 2, radius 2, block 6: the window's defaults
      std::size_t clusters = 0;
      const double seconds = SecondsOf([&] { clusters = ClusterValues(values, settings)->size(); });
      const std::string name = ClusterMethodName(method).toStdString();
      state.counters[name + "_s"] = seconds;
      state.counters[name + "_clusters"] = double(clusters);
      state.counters[name + "_peak_MiB"] = PeakMemoryMiB();
      total += seconds;
    }
    state.SetIterationTime(total);
  }
}

}  // namespace

BENCHMARK(ClusterMethodsAfterCounts)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
