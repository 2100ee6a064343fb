// klarifeld-clean --recipe: a saved recipe, run or previewed as one run.
#include <iostream>

#include "CommandSupport.h"
#include "Commands.h"
#include "Connection.h"
#include "Journal.h"
#include "PrintedChanges.h"
#include "RecipeRun.h"
#include "RewriteRun.h"
#include "Terminal.h"
#include "VisibleText.h"

// A recipe is read and refused, or not, before anything is read from its tables.
int RunRecipeFile(const CleanOptions& options) {
  QString problem;
  std::optional<Recipe> recipe = ReadRecipeFile(options.recipe, problem);
  if (!recipe) {
    Fail(problem);
    return UsageError;
  }
  const std::optional<QString> connectionString = ConnectionStringFor(options);
  if (!connectionString) return UsageError;
  try {
    Connection connection;
    connection.Open(*connectionString);
    problem = CheckRecipeTargetsOn(*recipe, connection);
  } catch (const DbError& failure) {
    return FailedToConnect(failure, options);
  }
  if (!problem.isEmpty()) {
    Fail(problem);
    return UsageError;
  }
  TerminalDialogs dialogs({});
  if (options.dryRun) {
    // Each change is printed as it is computed, each field's into a spool of its own.
    StreamedPreviews printed(options.json, true);
    const std::unique_ptr<RecipePreview> preview =
        PreviewRecipe(*recipe, ParseConnectionString(*connectionString), dialogs, printed.setUp());
    if (!preview) return UsageError;
    if (!options.json) {
      for (const QString& line : StepCountsTexts(*preview)) {
        std::cout << WithControlMarks(line).toStdString() << '\n';
      }
    }
    if (const QString failure = printed.finish(preview->fields); !failure.isEmpty()) {
      Fail(failure);
      return SomeReported;
    }
    return AnyFailing(preview->fields) ? SomeReported : AllWritten;
  }
  TerminalProgress progress;
  Journal journal(Journal::defaultPath());
  TellDamage(journal);
  RewriteRun rewrites(journal, ParseConnectionString(*connectionString), dialogs, progress);
  const RecipeRan ran = RunRecipe(*recipe, rewrites, dialogs);
  if (!ran.counted) return UsageError;
  if (!ran.run) return ConnectionFailed;
  TellJournaled(progress.summary());
  if (!progress.summary()) return UsageError;
  const int status = StatusOf(*progress.summary());
  return status == AllWritten && AnyFailing(ran.counted->fields) ? SomeReported : status;
}
