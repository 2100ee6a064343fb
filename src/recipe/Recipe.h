#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

#include "OperationCatalogue.h"

// One step of a recipe: an operation with its answers, applied to one field of one table.
struct RecipeStep {
  QString table;
  QString field;
  const CleaningOperation* operation = nullptr;
  Answers answers;
  QString where = {};  // the rows it cleans: an SQL condition; empty: every row

  QStringList answerList() const;
  bool operator==(const RecipeStep& other) const {
    return table == other.table && field == other.field && operation == other.operation &&
           answers.first == other.answers.first && answers.second == other.answers.second &&
           where == other.where;
  }
};

// Several fields cleaned as one run: steps on the same field apply in order to each value,
// the second seeing the first's result.
struct Recipe {
  std::vector<RecipeStep> steps;
};

// The steps that clean one field, in the recipe's order.
struct RecipeField {
  QString table;
  QString field;
  std::vector<int> steps;  // positions in Recipe::steps
};

// The recipe's fields grouped by table, tables and fields in the order the steps first name
// them: each table is read once, each field written once per row.
std::vector<std::vector<RecipeField>> RecipeTables(const Recipe& recipe);

// The recipe read from its file's text; nothing, with `problem` saying what is wrong
// ("Step 2: ..."), for text that is no recipe or a step whose operation or answers cannot
// be used. Nothing is asked of a server.
std::optional<Recipe> ParseRecipe(const QByteArray& json, QString& problem);
QByteArray RecipeJson(const Recipe& recipe);
// What file pickers offer for recipes.
inline const QString RecipeFileFilter = QStringLiteral("Klarifeld recipes (*.json);;All files (*)");
// The recipe in the file at `path`, as ParseRecipe reads it; or what keeps it from being read.
std::optional<Recipe> ReadRecipeFile(const QString& path, QString& problem);
// Empty once the file holds the recipe; else why it does not.
QString WriteRecipeFile(const Recipe& recipe, const QString& path);

// The first step that names a table or field the database does not have ("Step 3: No
// field 'x' in the table 'orders'."), or empty. Field names are taken in any case, as the
// server takes them, and set as the table spells them. `fieldsOf` gives a table's fields,
// or nothing when there is no such table.
using TableFields = std::function<std::optional<QStringList>(const QString& table)>;
QString CheckRecipeTargets(Recipe& recipe, const TableFields& fieldsOf);

// The step's operation's answers, checked as a run checks typed ones; empty when they do.
QString StepAnswersProblem(const RecipeStep& step);

// "Recipe customers.name, orders.note: 3 steps"
QString RecipeTitle(const Recipe& recipe);
// "remove-extra-spaces-at-end on customers.name"
QString StepText(const RecipeStep& step);
