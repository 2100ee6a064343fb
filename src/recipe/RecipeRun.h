#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "ChangePreview.h"
#include "Recipe.h"

class Connection;
class Dialogs;
class RewriteRun;

// What a recipe would change: a preview for each field it cleans, in the order of
// RecipeTables, and how many rows each step changes.
struct RecipePreview {
  Recipe recipe;  // as checked: field names as the tables spell them
  ChangePreviews fields;
  std::vector<qint64> stepChanges;  // by step
};

// The first step that names a table or field that the database of `connection` lacks, or
// empty; sets the field names as the tables spell them.
QString CheckRecipeTargetsOn(Recipe& recipe, Connection& connection);

// Reads each table of the recipe once, its key and the recipe's fields, and computes every
// field's new value by the recipe's steps in order; writes nothing. Nothing when it cannot
// (the user is told why): a step refused, before anything is read, or a failed read.
// `setUp`, when given, is shown each field's preview before its first record; what stays
// kept is handed to its drain at the end.
std::unique_ptr<RecipePreview> PreviewRecipe(const Recipe& recipe,
                                             const ConnectionAttributes& login, Dialogs& dialogs,
                                             const PreviewSetup& setUp = nullptr);

// Writes exactly the previewed changes as one run, where each row still holds the value
// the preview read. The journal's id of the run; nothing when it could not start.
std::optional<qint64> ApplyRecipe(const RecipePreview& preview, RewriteRun& rewrites);

// What RunRecipe did: how many changes each field and step made (no changes kept), and the
// journal's id of the run. No counts when it could not begin (the user is told why); counts
// without a run when the run could not start.
struct RecipeRan {
  std::unique_ptr<RecipePreview> counted;
  std::optional<qint64> run;
};

// Runs the recipe as one run without a preview to review. Each table is written as it is
// read, holding no more than a batch of changes, where each table allows it: an InnoDB table
// with a key that the recipe leaves alone. Else the recipe is previewed whole, then applied.
RecipeRan RunRecipe(const Recipe& recipe, RewriteRun& rewrites, Dialogs& dialogs);

// "Step 1, remove-extra-spaces-at-end on customers.name: 40 records change."
QStringList StepCountsTexts(const RecipePreview& preview);
