// "Remove All Spaces in Selected Field" over a million rows of a PostgreSQL table, half of
// which change, through the code that "Start Removing" runs, then its undo, beside
// PostgreSQL's own UPDATE; through the delay proxy when scripts/bench --rtt runs it.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <cstdio>
#include <string>

#include "BenchDatabase.h"
#include "PgTestServer.h"
#include "RunPhases.h"

namespace {

// Through the proxy that scripts/bench --rtt started for PostgreSQL, if it did.
const PgDatabase Bench(QStringLiteral("klarifeld_bench"),
                       qEnvironmentVariable("KLARIFELD_BENCH_PG_PORT"));
const QString Table = QStringLiteral("bench_run_layer");

// The table afresh, its pages written out, so that no phase pays for the one before.
void prepareTable() {
  Bench.exec(QStringLiteral("DROP TABLE IF EXISTS %1;"
                            "CREATE TABLE %1 (id int PRIMARY KEY, v varchar(40));"
                            "INSERT INTO %1 SELECT g, CASE WHEN g % 2 = 0 THEN 'value ' || g || "
                            "' x' ELSE 'value' || g || 'x' END FROM generate_series(1, %2) g")
                 .arg(Table)
                 .arg(BenchRows));
  Bench.exec("VACUUM ANALYZE " + Table);
  Bench.exec(QStringLiteral("CHECKPOINT"));
}

Phase serverStatement() {
  return {SecondsOf([] {
            Bench.exec("UPDATE " + Table + " SET v = replace(v, ' ', '') WHERE v LIKE '% %'");
          }),
          PeakMemoryMiB(), 0};
}

Phase onFreshTable(const char* phase) {
  prepareTable();
  return InChild(phase, Table);
}

void RemoveAllSpaces_PgGroupedRunBesideServerStatement(benchmark::State& state) {
  Bench.create();
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const std::vector<Phase> measured = Alternating(
        {[] { return onFreshTable("statement"); }, [] { return onFreshTable("run"); }}, 2);
    const Phase statement = measured[0], run = measured[1];
    onFreshTable("run");
    const Phase undo = InChild("undo", Table);
    const Column left = Bench.column("SELECT count(*) FROM " + Table + " WHERE v LIKE '% %'");
    state.SetIterationTime(statement.seconds + run.seconds + undo.seconds);
    state.counters["rtt_ms"] = BenchRoundTripMs();
    state.counters["statement_s"] = statement.seconds;
    state.counters["run_s"] = run.seconds;
    state.counters["run_over_statement"] = run.seconds / statement.seconds;
    state.counters["run_peak_MiB"] = run.peakMiB;
    state.counters["undo_s"] = undo.seconds;
    state.counters["undo_peak_MiB"] = undo.peakMiB;
    state.counters["undone_rows"] = left.empty() ? -1 : left[0]->toDouble();
    state.counters["boxes_shown"] = double(run.reports + undo.reports);
  }
}

}  // namespace

BENCHMARK(RemoveAllSpaces_PgGroupedRunBesideServerStatement)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
  return PhaseMain(argc, argv, [&](const std::string& name, const QString& table) {
    return name == "statement" ? serverStatement()
           : name == "undo"    ? UndoTheRun(argc, argv, table, Bench.connectionString())
                            : RunThroughTheButtonsCode(argc, argv, table, Bench.connectionString());
  });
}
