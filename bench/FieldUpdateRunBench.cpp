// "Remove All Spaces in Selected Field" over a million rows, half of which change, through
// the code that "Start Removing" runs, with its progress window and its journal (dialogs
// scripted, no display), then the undo of that run, beside the floor loop written
// directly on the client library. Each phase runs in a child process of its own, one
// after the other, so that each peak memory figure is that phase's own.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "BenchDatabase.h"
#include "ChangePreview.h"
#include "Connection.h"
#include "ConnectionString.h"
#include "FieldUpdateRun.h"
#include "FloorLoop.h"
#include "Fundamental.h"
#include "Journal.h"
#include "ListViewWidget.h"
#include "PreviewWindow.h"
#include "ProgressWindow.h"
#include "RecipeRun.h"
#include "RewriteRun.h"
#include "RunPhases.h"
#include "ScriptedDialogs.h"
#include "TestServer.h"
#include "UndoRun.h"
#include "WindowPointer.h"

namespace {

const QString FloorTable = QStringLiteral("bench_run_floor");
const QString RunTable = QStringLiteral("bench_run_layer");

// "Preview Changes" as the menu starts it, then its window's first screen.
Phase previewThroughTheMenusCode(int argc, char** argv, const QString& table) {
  MainWindowParts parts(argc, argv, table, BenchConnectionString());
  QElapsedTimer timer;
  timer.start();
  std::unique_ptr<ChangePreview> changes = parts.run().preview();
  const double seconds = timer.nsecsElapsed() / 1e9;
  timer.restart();
  PreviewWindow window(nullptr, std::move(changes), [](const ChangePreview&) {});
  window.show();
  window.changeList->viewport()->repaint();
  const long firstScreenMilliseconds = long(timer.elapsed());
  return {seconds, PeakMemoryMiB(), firstScreenMilliseconds};
}

// klarifeld-clean on `table` as a user starts it; `what` names the field and operation, or
// the recipe.
void startTerminal(QProcess& program, const QString& table, bool dryRun, const QStringList& what) {
  const ConnectionAttributes connection = ParseConnectionString(BenchConnectionString());
  QStringList arguments{"--host", connection.server, "--port",     connection.port,
                        "--user", connection.user,   "--database", connection.database};
  // A recipe names its own tables.
  if (!what.contains("--recipe")) arguments << "--table" << table;
  arguments << what;
  if (dryRun) arguments << "--dry-run";
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("MYSQL_PWD", connection.password);
  program.setProcessEnvironment(environment);
  program.setStandardOutputFile(QProcess::nullDevice());
  // What goes wrong is seen.
  program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  program.start(KLARIFELD_CLEAN_PATH, arguments);
}

// klarifeld-clean on `table`, run as a user runs it; its peak memory from the system.
Phase cleanFromTheTerminal(const QString& table, bool dryRun,
                           const QStringList& what = {"--field", "v", "--operation",
                                                      "remove-all-spaces"}) {
  QProcess program;
  QElapsedTimer timer;
  timer.start();
  startTerminal(program, table, dryRun, what);
  program.waitForFinished(-1);
  const double seconds = timer.nsecsElapsed() / 1e9;
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  return {seconds, children.ru_maxrss / 1024.0, program.exitCode()};
}

// A recipe file of "Remove All Spaces" on `fields` of `table`.
std::unique_ptr<QTemporaryFile> recipeFile(const QString& table, const QStringList& fields) {
  Recipe recipe;
  for (const QString& field : fields) {
    recipe.steps.push_back({table, field, FindOperationByName(u"remove-all-spaces"), {}});
  }
  auto file = std::make_unique<QTemporaryFile>();
  if (!file->open()) throw std::runtime_error("no recipe file");
  file->write(RecipeJson(recipe));
  file->flush();
  return file;
}

// A table of `rows` rows whose fields a, b and c hold spaces in every `every`[0], [1] and [2]th
// row.
void PrepareThreeFieldTable(const QString& table, int rows, const std::array<int, 3>& every) {
  ExecOnServer("CREATE DATABASE IF NOT EXISTS " + BenchDatabaseName);
  const auto dirty = [](int each) {
    return QStringLiteral(
               "IF(MOD(seq, %1) = 0, CONCAT('value ', seq, ' x'), CONCAT('value', seq, 'x'))")
        .arg(each);
  };
  Database(BenchDatabaseName)
      .exec(QStringLiteral("DROP TABLE IF EXISTS %1; CREATE TABLE %1 (id INT PRIMARY KEY, a "
                           "VARCHAR(40), b VARCHAR(40), c VARCHAR(40)) ENGINE=InnoDB; INSERT INTO "
                           "%1 SELECT seq, %3, %4, %5 FROM seq_1_to_%2")
                .arg(table)
                .arg(rows)
                .arg(dirty(every[0]), dirty(every[1]), dirty(every[2])));
}

// The three fields a, b and c of the recipe's table, cleaned by three runs one after another.
Phase threeRunsFromTheTerminal(const QString& table) {
  Phase all;
  for (const char* field : {"a", "b", "c"}) {
    const Phase one =
        cleanFromTheTerminal(table, false, {"--field", field, "--operation", "remove-all-spaces"});
    all.seconds += one.seconds;
    all.peakMiB = std::max(all.peakMiB, one.peakMiB);
    all.reports += one.reports;
  }
  return all;
}

// The same three fields cleaned by one recipe, as klarifeld-clean --recipe runs it.
Phase recipeFromTheTerminal(const QString& table) {
  const auto file = recipeFile(table, {"a", "b", "c"});
  return cleanFromTheTerminal(table, false, {"--recipe", file->fileName()});
}

// A recipe on b and c alone.
Phase recipeOnBandC(const QString& table) {
  const auto file = recipeFile(table, {"b", "c"});
  return cleanFromTheTerminal(table, false, {"--recipe", file->fileName()});
}

// The recipe on b and c and, at once, one on a and b: the time of the slower, and the exit
// codes of both.
Phase overlappingRecipes(const QString& table) {
  const auto ab = recipeFile(table, {"a", "b"}), bc = recipeFile(table, {"b", "c"});
  QProcess first, second;
  QElapsedTimer timer;
  timer.start();
  startTerminal(first, table, false, {"--recipe", ab->fileName()});
  startTerminal(second, table, false, {"--recipe", bc->fileName()});
  double seconds = 0;
  for (QProcess* program : {&first, &second}) {
    program->waitForFinished(-1);
    seconds = std::max(seconds, timer.nsecsElapsed() / 1e9);
  }
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  return {seconds, children.ru_maxrss / 1024.0, first.exitCode() * 10 + second.exitCode()};
}

// The server's own statement for all three fields at once.
Phase threeColumnStatement(const QString& table) {
  QElapsedTimer timer;
  timer.start();
  RunServerStatement(BenchConnectionString(),
                     "UPDATE " + table +
                         " SET a = REPLACE(a, ' ', ''), b = REPLACE(b, ' ', ''), c = REPLACE(c, "
                         "' ', '') WHERE a LIKE '% %' OR b LIKE '% %' OR c LIKE '% %'");
  return {timer.nsecsElapsed() / 1e9, PeakMemoryMiB(), 0};
}

Phase readFloor(const QString& table) {
  QElapsedTimer timer;
  timer.start();
  ReadAndTransform(BenchConnectionString(), table, Fundamental::RemoveAllSpaces);
  return {timer.nsecsElapsed() / 1e9, PeakMemoryMiB(), 0};
}

// A recipe of "Remove All Spaces" on v, w and x, previewed and applied as the windows do.
Phase recipeOfThreeFields(int argc, char** argv, const QString& table) {
  MainWindowParts parts(argc, argv, table, BenchConnectionString());
  Recipe recipe;
  for (const char* field : {"v", "w", "x"}) {
    recipe.steps.push_back({table, field, FindOperationByName(u"remove-all-spaces"), {}});
  }
  QElapsedTimer timer;
  timer.start();
  const std::unique_ptr<RecipePreview> preview =
      PreviewRecipe(recipe, ParseConnectionString(BenchConnectionString()), parts.dialogs);
  RewriteRun rewrites(parts.journal, ParseConnectionString(BenchConnectionString()), parts.dialogs,
                      parts.progress);
  if (preview) ApplyRecipe(*preview, rewrites);
  return {timer.nsecsElapsed() / 1e9, PeakMemoryMiB(), long(parts.dialogs.shown().size())};
}

Phase floor(const QString& table) {
  QElapsedTimer timer;
  timer.start();
  RunFloorLoop(BenchConnectionString(), table, Fundamental::RemoveAllSpaces);
  return {timer.nsecsElapsed() / 1e9, PeakMemoryMiB(), 0};
}

// The same change as one statement that the server runs by itself.
Phase serverStatement(const QString& table) {
  QElapsedTimer timer;
  timer.start();
  RunServerStatement(BenchConnectionString(),
                     "UPDATE " + table + " SET v = REPLACE(v, ' ', '') WHERE v LIKE '% %'");
  return {timer.nsecsElapsed() / 1e9, PeakMemoryMiB(), 0};
}

Phase inChild(const char* phase, const QString& table) {
  SettleServer();
  return InChild(phase, table);
}

// A phase on a table loaded afresh just before it.
Phase onFreshTable(const char* phase, const QString& table, int rows = BenchRows) {
  PrepareBenchTable(table, true, rows);
  return inChild(phase, table);
}

void RemoveAllSpaces_RunBesideFloor(benchmark::State& state) {
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const std::vector<Phase> measured =
        Alternating({[] { return onFreshTable("floor", FloorTable); },
                     [] { return onFreshTable("run", RunTable); }},
                    2);
    const Phase floorPhase = measured[0], first = measured[1];
    // The journal of one run from a fresh table, then a second run and the undo.
    const QTemporaryDir journalHome;
    qputenv("XDG_DATA_HOME", journalHome.path().toUtf8());
    PrepareBenchTable(RunTable, true);
    inChild("run", RunTable);
    const double journalMiB = QFileInfo(Journal::defaultPath()).size() / 1048576.0;
    const Phase second = inChild("run", RunTable);
    const Phase undo = inChild("undo", RunTable);
    state.SetIterationTime(floorPhase.seconds + first.seconds + second.seconds + undo.seconds);
    state.counters["journal_MiB"] = journalMiB;
    state.counters["undo_s"] = undo.seconds;
    state.counters["undo_over_floor"] = undo.seconds / floorPhase.seconds;
    state.counters["undo_peak_MiB"] = undo.peakMiB;
    state.counters["floor_s"] = floorPhase.seconds;
    state.counters["run_s"] = first.seconds;
    state.counters["run_over_floor"] = first.seconds / floorPhase.seconds;
    state.counters["second_run_s"] = second.seconds;
    state.counters["first_over_second"] = first.seconds / second.seconds;
    state.counters["floor_peak_MiB"] = floorPhase.peakMiB;
    state.counters["run_peak_MiB"] = first.peakMiB;
    state.counters["peak_ratio"] = first.peakMiB / floorPhase.peakMiB;
    state.counters["boxes_shown"] = double(first.reports + second.reports + undo.reports);
  }
}

void RemoveAllSpaces_CleanCommandBesideFloor(benchmark::State& state) {
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    PrepareBenchTable(FloorTable, true);
    PrepareBenchTable(RunTable, true);
    const Phase read = inChild("read", RunTable);
    const Phase dry = inChild("cleandry", RunTable);
    const Phase floorPhase = inChild("floor", FloorTable);
    const Phase clean = inChild("clean", RunTable);
    state.SetIterationTime(read.seconds + dry.seconds + floorPhase.seconds + clean.seconds);
    state.counters["dry_run_over_read"] = dry.seconds / read.seconds;
    state.counters["dry_run_s"] = dry.seconds;
    state.counters["floor_s"] = floorPhase.seconds;
    state.counters["clean_s"] = clean.seconds;
    state.counters["clean_over_floor"] = clean.seconds / floorPhase.seconds;
    state.counters["clean_peak_MiB"] = clean.peakMiB;
    state.counters["floor_peak_MiB"] = floorPhase.peakMiB;
    state.counters["clean_status"] = double(clean.reports);
  }
}

// The run and its undo beside the server's own statement and the single-row floor, on a
// million rows of which half change; through the delay proxy when scripts/bench --rtt runs
// it. Across a delay the floor runs on a fiftieth of the rows (a two-hundredth from 20 ms)
// and is scaled up: whole, it would take hours.
void RemoveAllSpaces_GroupedRunBesideServerStatement(benchmark::State& state) {
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const int floorShare = BenchRoundTripMs() >= 20 ? 200 : BenchRoundTripMs() > 0 ? 50 : 1;
    const std::vector<Phase> measured =
        Alternating({[] { return onFreshTable("statement", RunTable); },
                     [] { return onFreshTable("run", RunTable); },
                     [&] { return onFreshTable("floor", FloorTable, BenchRows / floorShare); }},
                    2);
    const Phase statement = measured[0], run = measured[1], floorPhase = measured[2];
    const double floorSeconds = floorPhase.seconds * floorShare;
    onFreshTable("run", RunTable);
    const Phase undo = inChild("undo", RunTable);
    state.SetIterationTime(statement.seconds + run.seconds + floorPhase.seconds);
    state.counters["undo_s"] = undo.seconds;
    state.counters["undo_over_run"] = undo.seconds / run.seconds;
    state.counters["undo_peak_MiB"] = undo.peakMiB;
    state.counters["rtt_ms"] = BenchRoundTripMs();
    state.counters["statement_s"] = statement.seconds;
    state.counters["run_s"] = run.seconds;
    state.counters["run_over_statement"] = run.seconds / statement.seconds;
    state.counters["floor_s"] = floorSeconds;
    state.counters["floor_over_statement"] = floorSeconds / statement.seconds;
    state.counters["run_peak_MiB"] = run.peakMiB;
    state.counters["floor_peak_MiB"] = floorPhase.peakMiB;
    state.counters["boxes_shown"] = double(run.reports);
  }
}

void RemoveAllSpaces_PreviewBesideRead(benchmark::State& state) {
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    PrepareBenchTable(RunTable, true);
    const Phase read = inChild("read", RunTable);
    const Phase preview = inChild("preview", RunTable);
    state.SetIterationTime(read.seconds + preview.seconds);
    state.counters["read_s"] = read.seconds;
    state.counters["preview_s"] = preview.seconds;
    state.counters["preview_over_read"] = preview.seconds / read.seconds;
    state.counters["first_screen_ms"] = double(preview.reports);
    state.counters["read_peak_MiB"] = read.peakMiB;
    state.counters["preview_peak_MiB"] = preview.peakMiB;
  }
}

// The regular expression that does what "Remove Extra Spaces at End" does, beside it, on a
// million rows of which half end in spaces.
void TrailingSpaces_RegexBesideOperation(benchmark::State& state) {
  const auto onTrailingTable = [](const char* phase) {
    PrepareBenchTable(RunTable, true);
    Database(BenchDatabaseName)
        .exec("UPDATE " + RunTable + " SET v = CONCAT(v, '   ') WHERE MOD(id, 2) = 0");
    return inChild(phase, RunTable);
  };
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const std::vector<Phase> measured = Alternating(
        {[&] { return onTrailingTable("trailing"); }, [&] { return onTrailingTable("regex"); }}, 2);
    const Phase operation = measured[0], regex = measured[1];
    state.SetIterationTime(operation.seconds + regex.seconds);
    state.counters["operation_s"] = operation.seconds;
    state.counters["regex_s"] = regex.seconds;
    state.counters["regex_over_operation"] = regex.seconds / operation.seconds;
    state.counters["regex_status"] = double(regex.reports);
  }
}

// A recipe of three steps on three fields of one table beside one run on one of them: a
// million rows, every other value of each field holding spaces.
void Recipe_ThreeFieldsBesideOneRun(benchmark::State& state) {
  const auto threeFields = [] {
    PrepareBenchTable(RunTable, true);
    RunServerStatement(BenchConnectionString(), "ALTER TABLE " + RunTable +
                                                    " ADD COLUMN w VARCHAR(64), ADD COLUMN x "
                                                    "VARCHAR(64), ALGORITHM=COPY");
    RunServerStatement(BenchConnectionString(), "UPDATE " + RunTable + " SET w = v, x = v");
  };
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const std::vector<Phase> measured = Alternating({[&] {
                                                       threeFields();
                                                       return inChild("run", RunTable);
                                                     },
                                                     [&] {
                                                       threeFields();
                                                       return inChild("recipe3", RunTable);
                                                     }},
                                                    2);
    const Phase run = measured[0], recipe = measured[1];
    state.SetIterationTime(run.seconds + recipe.seconds);
    state.counters["run_s"] = run.seconds;
    state.counters["recipe_s"] = recipe.seconds;
    state.counters["recipe_over_run"] = recipe.seconds / run.seconds;
    state.counters["recipe_peak_MiB"] = recipe.peakMiB;
  }
}

// A recipe of "Remove All Spaces" on three fields whose dirt lies in different rows (a in
// every 2nd row, b in every 3rd, c in every 5th; a million rows), run from the terminal,
// beside three runs one after another and beside the server's own statement for the three.
void Recipe_ThreeFieldsBesideThreeRunsAndStatement(benchmark::State& state) {
  const QString table = QStringLiteral("bench_recipe");
  const auto onFreshTable = [&](const char* phase) {
    PrepareThreeFieldTable(table, BenchRows, {2, 3, 5});
    return inChild(phase, table);
  };
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const std::vector<Phase> measured = Alternating(
        {[&] { return onFreshTable("statement3"); }, [&] { return onFreshTable("runs3"); },
         [&] { return onFreshTable("recipe3cli"); }},
        2);
    const Phase statement = measured[0], runs = measured[1], recipe = measured[2];
    state.SetIterationTime(statement.seconds + runs.seconds + recipe.seconds);
    state.counters["statement_s"] = statement.seconds;
    state.counters["three_runs_s"] = runs.seconds;
    state.counters["recipe_s"] = recipe.seconds;
    state.counters["recipe_over_three_runs"] = recipe.seconds / runs.seconds;
    state.counters["recipe_over_statement"] = recipe.seconds / statement.seconds;
    state.counters["recipe_peak_MiB"] = recipe.peakMiB;
    state.counters["exit_codes"] = double(runs.reports + recipe.reports);
  }
}

// Two recipes at once on fields that overlap (a and b; b and c) of 300,000 rows, every other
// value of each field holding spaces: each meets rows that the other changed since it read
// them. Their time beside that of one of them alone.
void Recipes_OverlappingBesideAlone(benchmark::State& state) {
  constexpr int Rows = 300'000;
  const QString table = QStringLiteral("bench_recipe");
  const auto onFreshTable = [&](const char* phase) {
    PrepareThreeFieldTable(table, Rows, {2, 2, 2});
    return inChild(phase, table);
  };
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const std::vector<Phase> measured = Alternating(
        {[&] { return onFreshTable("recipebc"); }, [&] { return onFreshTable("overlapping"); }}, 2);
    const Phase alone = measured[0], together = measured[1];
    state.SetIterationTime(alone.seconds + together.seconds);
    state.counters["alone_s"] = alone.seconds;
    state.counters["together_s"] = together.seconds;
    state.counters["together_over_alone"] = together.seconds / alone.seconds;
    state.counters["exit_codes"] = double(alone.reports + together.reports);
  }
}

// A table without a key, whose rows are found by all their values: 100,000 rows of which
// half change, the run beside the server's own statement (through the delay proxy when
// scripts/bench --rtt runs it).
void Keyless_RunBesideServerStatement(benchmark::State& state) {
  constexpr int Rows = 100'000;
  const auto onKeylessTable = [](const char* phase) {
    PrepareBenchTable(RunTable, true, Rows);
    Database(BenchDatabaseName).exec("ALTER TABLE " + RunTable + " DROP PRIMARY KEY");
    return inChild(phase, RunTable);
  };
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const std::vector<Phase> measured = Alternating(
        {[&] { return onKeylessTable("statement"); }, [&] { return onKeylessTable("run"); }}, 3);
    const Phase statement = measured[0], run = measured[1];
    onKeylessTable("run");
    const Phase undo = inChild("undo", RunTable);
    state.SetIterationTime(statement.seconds + run.seconds);
    state.counters["undo_s"] = undo.seconds;
    state.counters["rtt_ms"] = BenchRoundTripMs();
    state.counters["statement_s"] = statement.seconds;
    state.counters["run_s"] = run.seconds;
    state.counters["run_over_statement"] = run.seconds / statement.seconds;
    state.counters["run_peak_MiB"] = run.peakMiB;
    state.counters["boxes_shown"] = double(run.reports);
  }
}

// A table without a key of 20,000 rows, half of which change, while another client inserts
// and deletes rows alike in every byte to rows of the table, one at a time: the run beside
// the same run without that client.
void Keyless_RunBesideWriterOfIdenticalRows(benchmark::State& state) {
  constexpr int Rows = 20'000;
  // The other client's inserts and deletes, the server's settling before each run included.
  long otherWrites = 0;
  const auto onKeylessTable = [&otherWrites](bool contended) {
    PrepareBenchTable(RunTable, true, Rows);
    Database(BenchDatabaseName).exec("ALTER TABLE " + RunTable + " DROP PRIMARY KEY");
    std::atomic<bool> writing = contended;
    std::atomic<long> written = 0;
    std::thread other([&] {
      Connection connection;
      connection.Open(BenchConnectionString());
      for (int n = 0; writing; ++n) {
        const int id = 1 + (n * 7919) % Rows;
        connection.Execute(QStringLiteral("INSERT INTO %1 SELECT * FROM %1 WHERE id = %2 LIMIT 1")
                               .arg(RunTable)
                               .arg(id));
        connection.Execute(
            QStringLiteral("DELETE FROM %1 WHERE id = %2 LIMIT 1").arg(RunTable).arg(id));
        ++written;
      }
    });
    Phase run = inChild("run", RunTable);
    writing = false;
    other.join();
    otherWrites += written;
    return run;
  };
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const std::vector<Phase> measured = Alternating(
        {[&] { return onKeylessTable(false); }, [&] { return onKeylessTable(true); }}, 2);
    const Phase alone = measured[0], contended = measured[1];
    state.SetIterationTime(alone.seconds + contended.seconds);
    state.counters["alone_s"] = alone.seconds;
    state.counters["contended_s"] = contended.seconds;
    state.counters["contended_over_alone"] = contended.seconds / alone.seconds;
    state.counters["boxes_shown"] = double(contended.reports);
    state.counters["other_writes"] = double(otherWrites);
  }
}

// A table without a key whose million rows hold ten values, each in 100,000 rows alike in
// every byte; five of them change (500,000 rows). The run beside the server's own statement.
void KeylessTwins_RunBesideServerStatement(benchmark::State& state) {
  const auto onTwinsTable = [](const char* phase) {
    ExecOnServer("CREATE DATABASE IF NOT EXISTS " + BenchDatabaseName);
    Database(BenchDatabaseName)
        .exec(QStringLiteral("DROP TABLE IF EXISTS %1; CREATE TABLE %1 (id INT, v VARCHAR(40)) "
                             "ENGINE=InnoDB; INSERT INTO %1 SELECT MOD(seq, 10), "
                             "IF(MOD(seq, 10) < 5, CONCAT('value ', MOD(seq, 10), ' x'), "
                             "CONCAT('value', MOD(seq, 10), 'x')) FROM seq_1_to_%2")
                  .arg(RunTable)
                  .arg(BenchRows));
    return inChild(phase, RunTable);
  };
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const std::vector<Phase> measured = Alternating(
        {[&] { return onTwinsTable("statement"); }, [&] { return onTwinsTable("run"); }}, 2);
    const Phase statement = measured[0], run = measured[1];
    onTwinsTable("run");
    const Phase undo = inChild("undo", RunTable);
    const Column left = Database(BenchDatabaseName)
                            .column("SELECT COUNT(*) FROM " + RunTable + " WHERE v LIKE '% %'");
    state.SetIterationTime(statement.seconds + run.seconds + undo.seconds);
    state.counters["statement_s"] = statement.seconds;
    state.counters["run_s"] = run.seconds;
    state.counters["run_over_statement"] = run.seconds / statement.seconds;
    state.counters["run_peak_MiB"] = run.peakMiB;
    state.counters["undo_s"] = undo.seconds;
    state.counters["undone_rows"] = left.empty() ? -1 : left[0]->toDouble();
    state.counters["boxes_shown"] = double(run.reports + undo.reports);
  }
}

// A table as wide as many are: beside the field, a column of 1,000 bytes that the run never
// touches. Peak memory of the run and of its undo, which must not grow with the table's size
// or width. KLARIFELD_BENCH_WIDE_ROWS sets the rows (1,000,000 unless told: 1 GB;
// scripts/bench --table takes 10,000,000).
void WideTable_RunAndUndoMemory(benchmark::State& state) {
  const qint64 rows = qEnvironmentVariableIsSet("KLARIFELD_BENCH_WIDE_ROWS")
                          ? qEnvironmentVariable("KLARIFELD_BENCH_WIDE_ROWS").toLongLong()
                          : 1'000'000;
  const QString table = QStringLiteral("bench_wide");
  for (auto _ : state) {
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    ExecOnServer("CREATE DATABASE IF NOT EXISTS " + BenchDatabaseName);
    const Database db(BenchDatabaseName);
    db.exec(QStringLiteral("DROP TABLE IF EXISTS %1; CREATE TABLE %1 (id INT PRIMARY KEY, v "
                           "VARCHAR(40), w VARCHAR(1000)) ENGINE=InnoDB")
                .arg(table));
    constexpr qint64 Batch = 500'000;
    for (qint64 from = 1; from <= rows; from += Batch) {
      db.exec(QStringLiteral("INSERT INTO %1 SELECT seq, IF(MOD(seq, 2) = 0, 'a b c', 'abc'), "
                             "REPEAT('w', 1000) FROM seq_%2_to_%3")
                  .arg(table)
                  .arg(from)
                  .arg(std::min(rows, from + Batch - 1)));
    }
    const Phase run = inChild("run", table);
    const Phase undo = inChild("undo", table);
    state.SetIterationTime(run.seconds + undo.seconds);
    state.counters["rows"] = double(rows);
    state.counters["run_s"] = run.seconds;
    state.counters["run_peak_MiB"] = run.peakMiB;
    state.counters["undo_s"] = undo.seconds;
    state.counters["undo_peak_MiB"] = undo.peakMiB;
    state.counters["boxes_shown"] = double(run.reports + undo.reports);
    db.exec("DROP TABLE " + table);
  }
}

}  // namespace

BENCHMARK(Keyless_RunBesideServerStatement)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(Keyless_RunBesideWriterOfIdenticalRows)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(KeylessTwins_RunBesideServerStatement)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(Recipe_ThreeFieldsBesideThreeRunsAndStatement)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(Recipes_OverlappingBesideAlone)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(Recipe_ThreeFieldsBesideOneRun)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(WideTable_RunAndUndoMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(TrailingSpaces_RegexBesideOperation)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(RemoveAllSpaces_CleanCommandBesideFloor)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(RemoveAllSpaces_PreviewBesideRead)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(RemoveAllSpaces_RunBesideFloor)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(RemoveAllSpaces_GroupedRunBesideServerStatement)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
  return PhaseMain(argc, argv, [&](const std::string& name, const QString& table) {
    return name == "floor"       ? floor(table)
           : name == "statement" ? serverStatement(table)
           : name == "undo"      ? UndoTheRun(argc, argv, table, BenchConnectionString())
           : name == "recipe3"   ? recipeOfThreeFields(argc, argv, table)
           : name == "read"      ? readFloor(table)
           : name == "preview"   ? previewThroughTheMenusCode(argc, argv, table)
           : name == "clean"     ? cleanFromTheTerminal(table, false)
           : name == "cleandry"  ? cleanFromTheTerminal(table, true)
           : name == "trailing"
               ? cleanFromTheTerminal(table, false,
                                      {"--field", "v", "--operation", "remove-extra-spaces-at-end"})
           : name == "regex"      ? cleanFromTheTerminal(table, false,
                                                         {"--field", "v", "--operation", "replace-regex",
                                                          "--answer", R"(\s+$)", "--answer", ""})
           : name == "runs3"      ? threeRunsFromTheTerminal(table)
           : name == "recipe3cli" ? recipeFromTheTerminal(table)
           : name == "statement3" ? threeColumnStatement(table)
           : name == "recipebc"   ? recipeOnBandC(table)
           : name == "overlapping"
               ? overlappingRecipes(table)
               : RunThroughTheButtonsCode(argc, argv, table, BenchConnectionString());
  });
}
