#pragma once

// The tables that the database benchmarks read and write, on the private server that
// scripts/bench starts (found like the tests' server, through KLARIFELD_TEST_DB_DIR).

#include <sys/resource.h>
#include <QString>
#include <functional>
#include <vector>

inline constexpr int BenchRows = 1'000'000;
inline const QString BenchDatabaseName = QStringLiteral("klarifeld_bench");

// Creates `table` with `rows` rows (id, v) unless it is there; every other value of v
// holds spaces. With `fresh`, the table is made anew, so that its values are as at first.
void PrepareBenchTable(const QString& table, bool fresh, int rows = BenchRows);

// The connection that the measured work uses: through the delay proxy when scripts/bench
// --rtt started one (KLARIFELD_BENCH_PORT), else straight to the server.
QString BenchConnectionString();
// The round trip that the proxy adds, in milliseconds; 0 without one.
int BenchRoundTripMs();

// Waits until the server has written its dirty pages out, so that a phase does not pay
// for the background writing of the one before it.
void SettleServer();

// How long `work` takes, in seconds.
double SecondsOf(const std::function<void()>& work);
// The middle one of alternated rounds: on a machine whose speed drifts, what is said.
double Median(std::vector<double> values);

inline double PeakMemoryMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}
