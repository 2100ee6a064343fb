// The scan beside a plain pass of the server over the same columns: one table of three
// text columns, at 1,000,000 rows and at 100,000.
#include <benchmark/benchmark.h>

#include <QElapsedTimer>

#include "BenchDatabase.h"
#include "Connection.h"
#include "DatabaseScan.h"
#include "RecordSet.h"
#include "TestServer.h"

namespace {

QString prepare(int rows) {
  const QString table = QStringLiteral("bench_scan_%1").arg(rows);
  PrepareBenchTable(table, false, rows);
  const Database db(BenchDatabaseName);
  const Column columns =
      db.column("SELECT COUNT(*) FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = '" +
                BenchDatabaseName + "' AND TABLE_NAME = '" + table + "'");
  if (columns[0] == "2") {
    db.exec(QStringLiteral("ALTER TABLE %1 ADD a VARCHAR(60), ADD b TEXT;"
                           "UPDATE %1 SET a = CONCAT(' name ', id, CHAR(9)), b = CONCAT('note ', "
                           "id, IF(MOD(id, 7) = 0, _utf8mb4 X'C2A0', ''), ' end ')")
                .arg(table));
  }
  return table;
}

double seconds(const std::function<void()>& work) {
  QElapsedTimer timer;
  timer.start();
  work();
  return timer.nsecsElapsed() / 1e9;
}

void ScanBesidePlainPass(benchmark::State& state) {
  const int rows = int(state.range(0));
  const QString table = prepare(rows);
  for (auto _ : state) {
    Connection connection;
    connection.CommandTimeout = 0;
    connection.Open(BenchConnectionString());
    const double plain = seconds(
        [&] { connection.Execute("SELECT SUM(LENGTH(v) + LENGTH(a) + LENGTH(b)) FROM " + table); });
    const double scan = seconds([&] { benchmark::DoNotOptimize(ScanTable(connection, table)); });
    state.SetIterationTime(scan);
    state.counters["plain_s"] = plain;
    state.counters["scan_s"] = scan;
    state.counters["scan_over_plain"] = scan / plain;
  }
}

}  // namespace

BENCHMARK(ScanBesidePlainPass)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
