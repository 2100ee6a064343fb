// The scan beside a plain pass of the server over the same columns: one table of three
// text columns, at 1,000,000 rows and at 100,000; its dirt either spaces, tabs and a few
// no-break spaces, or every kind the scan counts in every row.
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <algorithm>
#include <vector>

#include "BenchDatabase.h"
#include "Connection.h"
#include "DatabaseScan.h"
#include "RecordSet.h"
#include "TestServer.h"

namespace {

// Leading, trailing and double spaces, a tab, a line break, a no-break, an em and a
// zero-width space and a control character.
const QString EveryKind = QStringLiteral(
    "CONCAT(' n  ', id, CHAR(9), CHAR(10), _utf8mb4 X'C2A0', _utf8mb4 X'E28083', "
    "_utf8mb4 X'E2808B', CHAR(7), ' ')");

QString prepare(int rows, bool everyKind) {
  const QString table = QStringLiteral("bench_scan_%1%2")
                            .arg(rows)
                            .arg(everyKind ? QStringLiteral("_every_kind") : QString());
  PrepareBenchTable(table, false, rows);
  const Database db(BenchDatabaseName);
  const Column columns =
      db.column("SELECT COUNT(*) FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = '" +
                BenchDatabaseName + "' AND TABLE_NAME = '" + table + "'");
  if (columns[0] == "2" && !everyKind) {
    db.exec(QStringLiteral("ALTER TABLE %1 ADD a VARCHAR(60), ADD b TEXT;"
                           "UPDATE %1 SET a = CONCAT(' name ', id, CHAR(9)), b = CONCAT('note ', "
                           "id, IF(MOD(id, 7) = 0, _utf8mb4 X'C2A0', ''), ' end ')")
                .arg(table));
  } else if (columns[0] == "2") {
    db.exec(QStringLiteral("ALTER TABLE %1 ADD a VARCHAR(60), ADD b TEXT;"
                           "UPDATE %1 SET a = %2, b = %2")
                .arg(table, EveryKind));
  }
  return table;
}

// Rounds of the plain pass and the scan, each round in the other order: on a machine whose
// speed drifts, the ratio within a round is what holds, and the median round what is said.
constexpr int Rounds = 5;

void ScanBesidePlainPass(benchmark::State& state) {
  const int rows = int(state.range(0));
  const QString table = prepare(rows, state.range(1) != 0);
  for (auto _ : state) {
    Connection connection;
    connection.CommandTimeout = 0;
    connection.Open(BenchConnectionString());
    const auto plainPass = [&] {
      return SecondsOf([&] {
        connection.Execute("SELECT SUM(LENGTH(v) + LENGTH(a) + LENGTH(b)) FROM " + table);
      });
    };
    const auto scan = [&] {
      return SecondsOf([&] { benchmark::DoNotOptimize(ScanTable(connection, table)); });
    };
    std::vector<double> plains, scans, ratios;
    for (int round = 0; round < Rounds; ++round) {
      double plain = 0, scanned = 0;
      if (round % 2 == 0) {
        plain = plainPass();
        scanned = scan();
      } else {
        scanned = scan();
        plain = plainPass();
      }
      plains.push_back(plain);
      scans.push_back(scanned);
      ratios.push_back(scanned / plain);
    }
    state.SetIterationTime(Median(scans));
    state.counters["plain_s"] = Median(plains);
    state.counters["scan_s"] = Median(scans);
    state.counters["scan_over_plain"] = Median(ratios);
    state.counters["scan_over_plain_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["scan_over_plain_max"] = *std::max_element(ratios.begin(), ratios.end());
  }
}

}  // namespace

BENCHMARK(ScanBesidePlainPass)
    ->ArgNames({"rows", "every_kind"})
    ->Args({100'000, 0})
    ->Args({1'000'000, 0})
    ->Args({1'000'000, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
