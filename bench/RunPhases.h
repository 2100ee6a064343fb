#pragma once

// What the run benchmarks share: a run and its undo through the code that the main window's
// button and History start, each phase in a child process of its own, so that each peak
// memory figure is that phase's own, and rounds of phases alternated.

#include <QApplication>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "FieldUpdateRun.h"
#include "Journal.h"
#include "ListViewWidget.h"
#include "ProgressWindow.h"
#include "ScriptedDialogs.h"
#include "WindowPointer.h"

struct Phase {
  double seconds = 0;
  double peakMiB = 0;
  long reports = 0;  // for a preview: milliseconds to its first screen
};

// What the main window hands a run: `table` with its field v chosen, scripted dialogs,
// the progress window and the journal, with no display, logging in with `connection`.
struct MainWindowParts {
  MainWindowParts(int& argc, char** argv, const QString& table, QString connection);
  FieldUpdateRun run();

  QString connection;
  QApplication application;
  ListViewWidget tables, fields, preview;
  ScriptedDialogs dialogs;
  HeldPointer pointer;
  ProgressWindow progress{nullptr};
  Journal journal{Journal::defaultPath()};
};

// "Remove All Spaces in Selected Field" on v of `table`, as the button starts it.
Phase RunThroughTheButtonsCode(int argc, char** argv, const QString& table,
                               const QString& connection);
// The undo of the newest run that wrote something.
Phase UndoTheRun(int argc, char** argv, const QString& table, const QString& connection);

// Runs `phase` in a child process of this program and reads its figures.
Phase InChild(const char* phase, const QString& table);
// A benchmark program's main: as `PROGRAM --phase NAME TABLE`, the child that runs one
// phase and prints its figures; else the benchmarks.
int PhaseMain(int argc, char** argv,
              const std::function<Phase(const std::string& name, const QString& table)>& phase);

// The means of `rounds` rounds of `phases`, each round in another order, so that no phase
// always comes first after loading or last in a warm server.
std::vector<Phase> Alternating(const std::vector<std::function<Phase()>>& phases, int rounds);
