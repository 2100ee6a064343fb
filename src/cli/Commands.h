#pragma once

#include "CleanOptions.h"

// klarifeld-clean's commands other than a run of one operation; each returns the exit status.

// --scan: the dirt of every text column, counted on the server.
int ScanDatabase(const CleanOptions& options);
// --history: the journal's runs, newest first.
int ListHistory(bool json);
// --undo RUN: a journaled run taken back, or with --dry-run what that would write.
int UndoJournaledRun(const CleanOptions& options);
// --recipe FILE: a saved recipe, run or previewed as one run.
int RunRecipeFile(const CleanOptions& options);
// --values: a column's distinct values with their counts.
int ListValues(const CleanOptions& options);
// --cluster METHOD: the clusters of a column's distinct values.
int ClusterFieldValues(const CleanOptions& options);
