// The main window's part in a column's values: the values window, the cluster window, and
// what they hand back (a preview of map-values, a recipe step).
#include <QAction>
#include <QMenu>

#include "ClusterWindow.h"
#include "Dialogs.h"
#include "ListViewWidget.h"
#include "LoginWindow.h"
#include "MainWindow.h"
#include "OperationCatalogue.h"
#include "ValuesWindow.h"

void MainWindow::layOutValuesMenu(QMenu* runMenu) {
  valuesAction = runMenu->addAction(QStringLiteral("&Values…"));
  valuesAction->setObjectName(QStringLiteral("valuesAction"));
  valuesAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  clusterAction = runMenu->addAction(QStringLiteral("Cl&uster Values…"));
  clusterAction->setObjectName(QStringLiteral("clusterAction"));
  connect(valuesAction, &QAction::triggered, this, [this] { onValuesChosen(); });
  connect(clusterAction, &QAction::triggered, this, [this] { onClusterChosen(); });
}

void MainWindow::onValuesChosen() {
  if (tableList->selectedIndex() < 0 || fieldList->selectedIndex() < 0) {
    dialogs_.message(QStringLiteral("Choose a table and a field first."));
    return;
  }
  if (valuesWindow_ && valuesWindow_->isCounting()) {
    valuesWindow_->raise();
    return;
  }
  delete valuesWindow_;
  valuesWindow_ = new ValuesWindow(
      this, dialogs_,
      [this](const QString& table, const QString& field, const QString& map) {
        previewValueMap(table, field, map);
      },
      [this](const QString& condition) { setRowCondition(condition); },
      [this](const QString& table, const QString& field) { openClusters(table, field); });
  valuesWindow_->show();
  valuesWindow_->raise();
  valuesWindow_->activateWindow();
  valuesWindow_->count(login_.connectionString(), tableList->selectedText(),
                       fieldList->selectedText(), rowCondition_);
}

void MainWindow::onClusterChosen() {
  if (tableList->selectedIndex() < 0 || fieldList->selectedIndex() < 0) {
    dialogs_.message(QStringLiteral("Choose a table and a field first."));
    return;
  }
  openClusters(tableList->selectedText(), fieldList->selectedText());
}

void MainWindow::openClusters(const QString& table, const QString& field) {
  if (clusterWindow_ && clusterWindow_->isWorking()) {
    clusterWindow_->raise();
    return;
  }
  if (!clusterWindow_) {
    clusterWindow_ = new ClusterWindow(
        this, dialogs_,
        [this](const QString& table, const QString& field, const QString& map) {
          previewValueMap(table, field, map);
        },
        [this](const QString& table, const QString& field, const QString& map) {
          addValueMapToRecipe(table, field, map);
        });
  }
  clusterWindow_->chooseField(login_.connectionString(), table, field, rowCondition_);
  clusterWindow_->show();
  clusterWindow_->raise();
  clusterWindow_->activateWindow();
}

void MainWindow::addValueMapToRecipe(const QString& table, const QString& field,
                                     const QString& map) {
  RecipeStep step{table, field, FindOperationByName(u"map-values"), {}, rowCondition_};
  step.answers.first = map;
  recipe_.steps.push_back(step);
  recipeChanged();
  say(QStringLiteral("Step %1 of the recipe: %2.").arg(recipe_.steps.size()).arg(StepText(step)));
}
