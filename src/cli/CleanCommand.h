#pragma once

#include "CleanOptions.h"

// Runs what the options ask for and returns the exit status.
int RunCleanCommand(const CleanOptions& options);
