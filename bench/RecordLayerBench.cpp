// The record layer on a table of a million rows: reading all of it, reading only its
// first rows or its field names, and an update loop beside the floor written directly
// on the client library. Run each case in a process of its own (scripts/bench does) so
// that its peak memory is its own.
#include <benchmark/benchmark.h>

#include <QElapsedTimer>

#include "BenchDatabase.h"
#include "Connection.h"
#include "FloorLoop.h"
#include "Fundamental.h"
#include "RecordSet.h"

namespace {

const QString ReadTable = QStringLiteral("bench_read");

void reportPeakMemory(benchmark::State& state) {
  state.counters["peak_MiB"] = PeakMemoryMiB();
}

// A record set opened as the field list and the preview open theirs.
void openAsTheWindowsDo(Connection& connection, RecordSet& records, const QString& statement) {
  connection.Open(BenchConnectionString());
  records.Open(statement, connection, RecordSet::Static, RecordSet::Optimistic);
}

// (a) A client-side record set, counted, then every row read.
void FullRead_Layer(benchmark::State& state) {
  PrepareBenchTable(ReadTable, false);
  for (auto _ : state) {
    Connection connection;
    connection.CursorLocation = Connection::UseClient;
    connection.Open(BenchConnectionString());
    RecordSet records;
    records.Open("SELECT id, v FROM " + ReadTable, connection, RecordSet::Keyset,
                 RecordSet::Optimistic);
    const qint32 count = records.RecordCount();
    qint64 characters = 0;
    for (qint32 i = 0; i < count; ++i, records.MoveNext()) {
      characters += records.Value(0)->size() + records.Value(1)->size();
    }
    benchmark::DoNotOptimize(characters);
  }
  reportPeakMemory(state);
}

// (a) The floor: the same rows held by mysql_store_result.
void FullRead_Floor(benchmark::State& state) {
  PrepareBenchTable(ReadTable, false);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReadAllWithStoreResult(BenchConnectionString(), ReadTable));
  }
  reportPeakMemory(state);
}

// (b) The first 101 rows, then the record set and its connection let go.
void First101Rows(benchmark::State& state) {
  PrepareBenchTable(ReadTable, false);
  for (auto _ : state) {
    Connection connection;
    RecordSet records;
    openAsTheWindowsDo(connection, records, "SELECT `v` FROM `" + ReadTable + "`");
    for (int row = 0; row <= 100 && !records.Eof(); ++row, records.MoveNext()) {
      benchmark::DoNotOptimize(records.Value(0));
    }
    records.Close();
  }
  reportPeakMemory(state);
}

// (c) The field names of "SELECT *", no row read.
void FieldNamesOnly(benchmark::State& state) {
  PrepareBenchTable(ReadTable, false);
  for (auto _ : state) {
    Connection connection;
    RecordSet records;
    openAsTheWindowsDo(connection, records, "SELECT * FROM `" + ReadTable + "`");
    for (int i = 0; i < records.Fields().count(); ++i) {
      benchmark::DoNotOptimize(records.Fields().Name(i));
    }
  }
  reportPeakMemory(state);
}

// (d) Removing the spaces of every value, half of which have some, through Update.
qint64 updateThroughLayer(const QString& table) {
  Connection connection;
  connection.CursorLocation = Connection::UseClient;
  connection.Open(BenchConnectionString());
  RecordSet records;
  records.Open("SELECT * FROM `" + table + "`", connection, RecordSet::Keyset,
               RecordSet::Optimistic);
  const qint32 count = records.RecordCount();
  qint64 written = 0;
  for (qint32 i = 0; i < count; ++i, records.MoveNext()) {
    const QString value = records.Value(1).value_or(QString());
    const QString changed = Fundamental::RemoveAllSpaces(value);
    if (changed == value) continue;
    records.SetValue(1, changed);
    records.Update();
    ++written;
  }
  return written;
}

// Floor and layer side by side in one run, each on a fresh copy of the table.
void UpdateHalf_FloorThenLayer(benchmark::State& state) {
  for (auto _ : state) {
    PrepareBenchTable(QStringLiteral("bench_floor"), true);
    PrepareBenchTable(QStringLiteral("bench_layer"), true);
    QElapsedTimer timer;
    timer.start();
    const FloorResult floor = RunFloorLoop(BenchConnectionString(), QStringLiteral("bench_floor"),
                                           Fundamental::RemoveAllSpaces);
    const double floorSeconds = timer.nsecsElapsed() / 1e9;
    timer.restart();
    const qint64 written = updateThroughLayer(QStringLiteral("bench_layer"));
    const double layerSeconds = timer.nsecsElapsed() / 1e9;
    state.SetIterationTime(floorSeconds + layerSeconds);
    state.counters["floor_s"] = floorSeconds;
    state.counters["layer_s"] = layerSeconds;
    state.counters["layer_over_floor"] = layerSeconds / floorSeconds;
    state.counters["floor_writes"] = double(floor.written);
    state.counters["layer_writes"] = double(written);
  }
  reportPeakMemory(state);
}

}  // namespace

BENCHMARK(FullRead_Layer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(FullRead_Floor)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(First101Rows)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(FieldNamesOnly)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(UpdateHalf_FloorThenLayer)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
