// A column's distinct values beside the server's own GROUP BY on the same bytes: the
// values window's count (ranked into a temporary table, then its first page) and the
// terminal's --values (every value streamed), at 1,000,000 rows with 100,000 distinct
// values unless KLARIFELD_BENCH_VALUE_ROWS says how many rows (a tenth of them distinct).
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <algorithm>
#include <vector>

#include "BenchDatabase.h"
#include "ColumnValues.h"
#include "Connection.h"
#include "RecordSet.h"
#include "TestServer.h"
#include "ValueList.h"

namespace {

qint64 benchRows() {
  const qint64 asked = qEnvironmentVariableIntValue("KLARIFELD_BENCH_VALUE_ROWS");
  return asked > 0 ? asked : 1'000'000;
}

QString prepare(qint64 rows) {
  const QString table = QStringLiteral("bench_values_%1").arg(rows);
  ExecOnServer("CREATE DATABASE IF NOT EXISTS " + BenchDatabaseName);
  const Database db(BenchDatabaseName);
  const Column found =
      db.column("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = '" +
                BenchDatabaseName + "' AND TABLE_NAME = '" + table + "'");
  if (found[0] == "0") {
    db.exec(QStringLiteral("CREATE TABLE %1 (id INT PRIMARY KEY, v VARCHAR(40));"
                           "INSERT INTO %1 SELECT seq, CONCAT('value ', MOD(seq * 7919, %2)) "
                           "FROM seq_1_to_%3")
                .arg(table)
                .arg(rows / 10)
                .arg(rows));
  }
  return table;
}

// Each round in the other order; the median round is what is said.
constexpr int Rounds = 3;

void ValuesBesideGroupBy(benchmark::State& state) {
  const QString table = prepare(benchRows());
  for (auto _ : state) {
    std::vector<double> plain, window, streamed;
    const auto groupBy = [&] {
      return SecondsOf([&] {
        Connection connection;
        connection.CommandTimeout = 0;
        connection.Open(BenchConnectionString());
        RecordSet rows;
        rows.Open("SELECT v, COUNT(*) FROM " + table + " GROUP BY CAST(v AS BINARY)", connection);
        for (; !rows.Eof(); rows.MoveNext()) benchmark::DoNotOptimize(rows.RawValue(0));
      });
    };
    const auto counted = [&] {
      return SecondsOf([&] {
        ValueList list;
        list.count(BenchConnectionString(), table, "v");
        benchmark::DoNotOptimize(list.at(0));
      });
    };
    const auto listed = [&] {
      return SecondsOf([&] {
        Connection connection;
        connection.CommandTimeout = 0;
        connection.Open(BenchConnectionString());
        ForEachDistinctValue(connection, table, "v", {}, 0, [](const ValueCount& value) {
          benchmark::DoNotOptimize(value.rows);
          return true;
        });
      });
    };
    for (int round = 0; round < Rounds; ++round) {
      if (round % 2 == 0) {
        plain.push_back(groupBy());
        window.push_back(counted());
        streamed.push_back(listed());
      } else {
        streamed.push_back(listed());
        window.push_back(counted());
        plain.push_back(groupBy());
      }
    }
    state.SetIterationTime(Median(window));
    state.counters["group_by_s"] = Median(plain);
    state.counters["window_s"] = Median(window);
    state.counters["values_s"] = Median(streamed);
    state.counters["window_over_group_by"] = Median(window) / Median(plain);
    state.counters["values_over_group_by"] = Median(streamed) / Median(plain);
    state.counters["peak_MiB"] = PeakMemoryMiB();
  }
}

}  // namespace

BENCHMARK(ValuesBesideGroupBy)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
