// A recipe's file: read, refused with its step named, written back as it was read; and
// how its steps group into one reading per table and one write per field.
#include "Recipe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>

#include "../support/QStringPrinting.h"

namespace {

QString refusalOf(const QByteArray& json) {
  QString problem;
  EXPECT_FALSE(ParseRecipe(json, problem)) << json.toStdString();
  return problem;
}

QByteArray withStep(const char* step) {
  return QByteArray(R"({"klarifeld-recipe": 1, "steps": [)") + step + "]}";
}

}  // namespace

TEST(RecipeTest, ASavedRecipeReadsBackStepForStep) {
  Recipe recipe;
  recipe.steps = {
      {"customers", "name", FindOperationByName(u"trim-both-ends"), {}},
      {"customers", "name", FindOperationByName(u"replace-regex"), {"\"(\\d+)\"", "№ \\1\t"}},
      {"orders", "note", FindOperationByName(u"replace-tabs"), {" ", {}}},
      {"customers", "city", FindOperationByName(u"remove-first-x"), {"2", {}}}};
  QString problem;
  const std::optional<Recipe> read = ParseRecipe(RecipeJson(recipe), problem);
  ASSERT_TRUE(read) << problem.toStdString() << RecipeJson(recipe).toStdString();
  EXPECT_EQ(read->steps, recipe.steps);
  EXPECT_TRUE(RecipeJson(recipe).startsWith(
      "{\"klarifeld-recipe\": 1,\n \"steps\": [{\"table\": \"customers\", \"field\": \"name\", "
      "\"operation\": \"trim-both-ends\", \"answers\": []},\n"));

  // One reading per table, in the order first named; one write per field, its steps in order.
  const auto tables = RecipeTables(recipe);
  ASSERT_EQ(tables.size(), 2u);
  ASSERT_EQ(tables[0].size(), 2u);
  EXPECT_EQ(tables[0][0].field, "name");
  EXPECT_EQ(tables[0][0].steps, (std::vector<int>{0, 1}));
  EXPECT_EQ(tables[0][1].steps, (std::vector<int>{3}));
  EXPECT_EQ(tables[1][0].table, "orders");
  EXPECT_EQ(RecipeTitle(recipe), "Recipe customers.name, customers.city, orders.note: 4 steps");
}

TEST(RecipeTest, AStepThatCannotBeRunIsRefusedByItsNumber) {
  EXPECT_EQ(refusalOf(R"({"steps": []})"), "This is no recipe: it lacks \"klarifeld-recipe\": 1.");
  EXPECT_EQ(refusalOf(R"({"klarifeld-recipe": 2, "steps": []})"),
            "This recipe is of a later kind (klarifeld-recipe 2) than this version of Klarifeld "
            "reads (1).");
  EXPECT_EQ(refusalOf(R"({"klarifeld-recipe": 1, "steps": []})"), "The recipe has no steps.");
  EXPECT_EQ(refusalOf(withStep(R"({"table": "t", "operation": "remove-tabs"})")),
            "Step 1: no \"field\".");
  EXPECT_EQ(refusalOf(withStep(
                R"({"table": "t", "field": "f", "operation": "remove-tabs", "answers": ["x"]})")),
            "Step 1: the operation \"remove-tabs\" takes 0 answers, not 1.");
  EXPECT_EQ(refusalOf(withStep(
                R"({"table": "t", "field": "f", "operation": "replace-tabs", "answers": [""]})")),
            "Step 1: the operation \"replace-tabs\" asks \"Replace With:\"; give it in "
            "\"answers\".");
  EXPECT_EQ(refusalOf(withStep(
                R"({"table": "t", "field": "f", "operation": "replace-tabs", "answers": [1]})")),
            "Step 1: \"answers\" is a list of texts.");
  EXPECT_EQ(refusalOf(withStep(
                R"({"table": "t", "field": "f", "operation": "remove-last-x", "answers": ["x"]})")),
            "Step 1: Must enter number");
  EXPECT_TRUE(refusalOf(withStep(R"({"table": "t", "field": "f", "operation": "replace-regex",
                                     "answers": ["(", ""]})"))
                  .startsWith("Step 1: "));
  // A second answer may be empty: replaced with nothing.
  QString problem;
  EXPECT_TRUE(ParseRecipe(withStep(R"({"table": "t", "field": "f",
                                       "operation": "replace-user-defined", "answers": ["a"]})"),
                          problem))
      << problem.toStdString();

  Recipe recipe;
  recipe.steps = {{"t", "name", FindOperationByName(u"remove-tabs"), {}},
                  {"t", "Note", FindOperationByName(u"remove-tabs"), {}},
                  {"u", "x", FindOperationByName(u"remove-tabs"), {}}};
  const TableFields fieldsOf = [](const QString& table) -> std::optional<QStringList> {
    if (table == "t") return QStringList{"id", "name", "note"};
    return std::nullopt;
  };
  EXPECT_EQ(CheckRecipeTargets(recipe, fieldsOf), "Step 3: No table 'u' in the database.");
  EXPECT_EQ(recipe.steps[1].field, "note") << "as the table spells it";
}

// Only a regular file of a sensible size is read: a device or a pipe could be read forever.
TEST(RecipeTest, OnlyAFileOfAFewMiBIsRead) {
  QTemporaryDir folder;
  const QString fifo = folder.filePath("fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  QFile big(folder.filePath("big.json"));
  ASSERT_TRUE(big.open(QIODevice::WriteOnly));
  big.write(QByteArray(5 << 20, ' '));
  big.close();
  for (const QString& path : {QString("/dev/zero"), fifo, big.fileName()}) {
    QString problem;
    EXPECT_EQ(ReadRecipeFile(path, problem), std::nullopt) << path.toStdString();
    EXPECT_EQ(problem, "The recipe '" + path + "' is not a file of at most 4 MiB.");
  }
}
