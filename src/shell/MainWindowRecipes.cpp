// The main window's recipe: put together step by step, saved, opened, previewed and applied
// as one run.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>

#include "Dialogs.h"
#include "ListViewWidget.h"
#include "LoginWindow.h"
#include "MainWindow.h"
#include "PreviewWindow.h"
#include "RecipeRun.h"
#include "ScanWindow.h"

void MainWindow::layOutRecipeMenu(QMenu* runMenu) {
  const auto add = [&](const QString& text, const char* name) {
    QAction* action = runMenu->addAction(text);
    action->setObjectName(QLatin1String(name));
    return action;
  };
  runMenu->addSeparator();
  addToRecipeAction = add(QStringLiteral("&Add to Recipe"), "addToRecipeAction");
  previewRecipeAction = add(QStringLiteral("Preview &Recipe…"), "previewRecipeAction");
  openRecipeAction = add(QStringLiteral("&Open Recipe…"), "openRecipeAction");
  saveRecipeAction = add(QStringLiteral("&Save Recipe…"), "saveRecipeAction");
  newRecipeAction = add(QStringLiteral("&New Recipe"), "newRecipeAction");
  connect(addToRecipeAction, &QAction::triggered, this, [this] { onAddToRecipeChosen(); });
  connect(previewRecipeAction, &QAction::triggered, this, [this] { previewRecipe(recipe()); });
  connect(openRecipeAction, &QAction::triggered, this, [this] { onOpenRecipeChosen(); });
  connect(saveRecipeAction, &QAction::triggered, this, [this] { onSaveRecipeChosen(); });
  connect(newRecipeAction, &QAction::triggered, this, [this] { onNewRecipeChosen(); });
}

Recipe MainWindow::recipe() const {
  Recipe whole = recipe_;
  if (scanWindow_) {
    for (const RecipeStep& step : scanWindow_->tickedRecipe().steps) whole.steps.push_back(step);
  }
  return whole;
}

void MainWindow::recipeChanged() {
  if (scanWindow_) scanWindow_->showRecipeSteps(qsizetype(recipe().steps.size()));
}

void MainWindow::onNewRecipeChosen() {
  recipe_ = {};
  if (scanWindow_) scanWindow_->untickAll();
  recipeChanged();
  say(QStringLiteral("The recipe is empty: \"Add to Recipe\" adds its first step."));
}

void MainWindow::onAddToRecipeChosen() {
  if (isBusy()) return;
  const CleaningOperation* operation = FindOperation(operationBox->currentText());
  if (tableList->selectedIndex() < 0 || fieldList->selectedIndex() < 0 || !operation) {
    dialogs_.message(QStringLiteral("Choose a table, a field and an operation to add first."));
    return;
  }
  RecipeStep step{
      tableList->selectedText(), fieldList->selectedText(), operation, {}, rowCondition_};
  const QStringList questions = OperationQuestions(operation->kind);
  if (!questions.isEmpty()) step.answers.first = dialogs_.input(questions[0]);
  if (questions.size() > 1) step.answers.second = dialogs_.input(questions[1]);
  if (!questions.isEmpty() && step.answers.first.isEmpty()) {
    say(QStringLiteral("Nothing was added: the answer was empty."));
    return;
  }
  if (const QString problem = StepAnswersProblem(step); !problem.isEmpty()) {
    dialogs_.message(problem);
    return;
  }
  recipe_.steps.push_back(step);
  recipeChanged();
  say(QStringLiteral("Step %1 of the recipe: %2.").arg(recipe_.steps.size()).arg(StepText(step)));
}

void MainWindow::onOpenRecipeChosen() {
  if (isBusy()) return;
  const QString path = dialogs_.chooseFile(QStringLiteral("Open Recipe"), RecipeFileFilter);
  if (path.isEmpty()) return;
  QString problem;
  const std::optional<Recipe> opened = ReadRecipeFile(path, problem);
  if (!opened) {
    dialogs_.message(problem);
    return;
  }
  // The recipe opened takes the place of the one put together, ticks and all.
  recipe_ = *opened;
  if (scanWindow_) scanWindow_->untickAll();
  recipeChanged();
  previewRecipe(recipe_);
}

void MainWindow::onSaveRecipeChosen() {
  const Recipe recipe = this->recipe();
  if (recipe.steps.empty()) {
    dialogs_.message(QStringLiteral("The recipe has no steps yet: \"Add to Recipe\" adds one."));
    return;
  }
  const QString path = dialogs_.chooseNewFile(QStringLiteral("Save Recipe"), RecipeFileFilter);
  if (path.isEmpty()) return;
  if (const QString problem = WriteRecipeFile(recipe, path); !problem.isEmpty()) {
    dialogs_.message(problem);
  }
}

void MainWindow::previewRecipe(const Recipe& recipe) {
  if (isBusy() || !journal()) return;
  if (recipe.steps.empty()) {
    dialogs_.message(QStringLiteral("The recipe has no steps yet: \"Add to Recipe\" adds one."));
    return;
  }
  const Busy busy(*this);
  std::unique_ptr<RecipePreview> preview = PreviewRecipe(recipe, login_.login(), dialogs_);
  if (!preview) return;
  showPreview(new PreviewWindow(this, std::move(preview),
                                [this](const RecipePreview& shown) { applyRecipe(shown); }));
}

void MainWindow::applyRecipe(const RecipePreview& preview) {
  rewrite([&](RewriteRun& rewrites) { ApplyRecipe(preview, rewrites); });
  QStringList tables;
  for (const RecipeStep& step : preview.recipe.steps) {
    if (!tables.contains(step.table)) tables << step.table;
  }
  scanAgain(tables);
}
