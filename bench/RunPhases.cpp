#include "RunPhases.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "BenchDatabase.h"
#include "ConnectionString.h"
#include "UndoRun.h"

namespace {

std::string phaseProgram;

int& withoutDisplay(int& argc) {
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  return argc;
}

}  // namespace

MainWindowParts::MainWindowParts(int& argc, char** argv, const QString& table, QString connection)
    : connection(std::move(connection)), application(withoutDisplay(argc), argv) {
  tables.addItem(table);
  fields.addItem(QStringLiteral("id"));
  fields.addItem(QStringLiteral("v"));
  fields.setCurrentItem(fields.topLevelItem(1));
}

FieldUpdateRun MainWindowParts::run() {
  return FieldUpdateRun({tables, fields, preview},
                        QStringLiteral("Remove All Spaces in Selected Field"), connection, pointer,
                        dialogs, progress, journal);
}

Phase RunThroughTheButtonsCode(int argc, char** argv, const QString& table,
                               const QString& connection) {
  MainWindowParts parts(argc, argv, table, connection);
  QElapsedTimer timer;
  timer.start();
  parts.run().run();
  return {timer.nsecsElapsed() / 1e9, PeakMemoryMiB(), long(parts.dialogs.shown().size())};
}

Phase UndoTheRun(int argc, char** argv, const QString& table, const QString& connection) {
  MainWindowParts parts(argc, argv, table, connection);
  qint64 written = 0;
  for (const JournalRun& run : parts.journal.runs()) {
    if (run.entries > 0) {
      written = run.id;
      break;
    }
  }
  QElapsedTimer timer;
  timer.start();
  UndoRun(parts.journal, written, ParseConnectionString(connection), parts.dialogs, parts.progress)
      .run();
  return {timer.nsecsElapsed() / 1e9, PeakMemoryMiB(), long(parts.dialogs.shown().size())};
}

Phase InChild(const char* phase, const QString& table) {
  const std::string command = phaseProgram + " --phase " + phase + " " + table.toStdString();
  FILE* child = popen(command.c_str(), "r");
  Phase result;
  if (!child ||
      fscanf(child, "%lf %lf %ld", &result.seconds, &result.peakMiB, &result.reports) != 3) {
    throw std::runtime_error("phase " + std::string(phase) + " failed");
  }
  pclose(child);
  return result;
}

int PhaseMain(int argc, char** argv,
              const std::function<Phase(const std::string& name, const QString& table)>& phase) {
  phaseProgram = argv[0];
  if (argc == 4 && std::string(argv[1]) == "--phase") {
    const Phase measured = phase(argv[2], QString::fromLocal8Bit(argv[3]));
    std::printf("%f %f %ld\n", measured.seconds, measured.peakMiB, measured.reports);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

std::vector<Phase> Alternating(const std::vector<std::function<Phase()>>& phases, int rounds) {
  std::vector<Phase> means(phases.size());
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < phases.size(); ++i) {
      const std::size_t which =
          (round % 2 == 0) ? (i + std::size_t(round)) % phases.size() : phases.size() - 1 - i;
      const Phase phase = phases[which]();
      means[which].seconds += phase.seconds / rounds;
      means[which].peakMiB = std::max(means[which].peakMiB, phase.peakMiB);
      means[which].reports += phase.reports;
    }
  }
  return means;
}
