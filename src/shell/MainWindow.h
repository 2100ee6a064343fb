#pragma once

#include <QPointer>
#include <functional>
#include <memory>

#include "Recipe.h"
#include "Window.h"

class Dialogs;
class ChangePreview;
class PreviewWindow;
class HistoryWindow;
class ScanWindow;
class ValuesWindow;
class ClusterWindow;
class RewriteRun;
struct RecipePreview;
struct ScanFinding;
class Journal;
class QAction;
class QMenu;
class QMenuBar;
class LoginWindow;
class ProgressWindow;
class ListViewWidget;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class SettingsStore;
struct BrowserLists;

// The main window: the tables, the chosen table's fields, a preview of the chosen field,
// the operation list, "Start Removing" and "Switch MySQL Database"; above them the "Run"
// menu with the History of runs, where any run can be undone.
class MainWindow : public Window {
 public:
  MainWindow(LoginWindow& login, Dialogs& dialogs, const SettingsStore& settings);
  ~MainWindow() override;

  void load();
  void onTableClicked();
  void onFieldClicked();
  void onOperationChosen();
  void onStartClicked();
  void onSwitchDatabaseClicked();
  void onHistoryChosen();
  // The chosen field's distinct values, in a window of their own.
  void onValuesChosen();
  // The clusters of a field's values, in a window of their own: the chosen field's, or
  // `table`'s `field` (from the values window).
  void onClusterChosen();
  void openClusters(const QString& table, const QString& field);
  void onPreviewChosen();
  // Scans every listed table, or the chosen one, for dirt, in the scan window.
  void onScanChosen(bool chosenTableOnly);
  // Chooses the finding's table, field and operation here, and previews the operation with
  // its answers given.
  void previewFinding(const ScanFinding& finding);
  // Preview Changes for map-values on the table and field with its answer given.
  void previewValueMap(const QString& table, const QString& field, const QString& map);
  bool chooseTableAndField(const QString& table, const QString& field);
  // Writes a preview's changes, in the progress window.
  void applyPreview(const ChangePreview& preview);
  // Takes a journaled run back, in the progress window.
  void undoRun(qint64 run);

  // The one recipe: its steps added here (the chosen table, field and operation, with the
  // answers asked now) or opened, then the findings ticked in the scan.
  void onAddToRecipeChosen();
  void onOpenRecipeChosen();
  void onSaveRecipeChosen();
  void onNewRecipeChosen();
  // Every step of `recipe` in one preview, whose Apply writes them as one run.
  void previewRecipe(const Recipe& recipe);
  void applyRecipe(const RecipePreview& preview);
  Recipe recipe() const;

  // Lists the tables of the login window's database in place of those listed before. The
  // chosen table stays chosen when it is listed again; otherwise its fields and preview go
  // with it, as no listed table has them.
  void relistTables();

  ListViewWidget* tableList;
  ListViewWidget* fieldList;
  ListViewWidget* previewList;
  QGroupBox* optionsFrame;
  QComboBox* operationBox;
  QPushButton* startButton;
  QPushButton* switchDatabaseButton;
  QMenuBar* menuBar;
  QLabel* statusLine;  // "Nothing was changed: the answer was empty."
  QAction* previewAction;
  QAction* historyAction;
  QAction* valuesAction;
  QAction* clusterAction;
  QAction* rowsAction;
  // Runs, previews and values take only the rows where it holds; empty: every row.
  void setRowCondition(const QString& condition);
  const QString& rowCondition() const { return rowCondition_; }
  QAction* scanDatabaseAction;
  QAction* scanTableAction;
  QAction* addToRecipeAction;
  QAction* previewRecipeAction;
  QAction* openRecipeAction;
  QAction* saveRecipeAction;
  QAction* newRecipeAction;  // empties the recipe

  // The window that shows a run's progress and summary, made on first use.
  ProgressWindow& progressWindow();
  // The journal of old values, opened on first use; nullptr, once the user is told why,
  // when it cannot be.
  Journal* journal();
  HistoryWindow* historyWindow() const { return historyWindow_; }
  ScanWindow* scanWindow() const { return scanWindow_; }
  ValuesWindow* valuesWindow() const { return valuesWindow_; }
  ClusterWindow* clusterWindow() const { return clusterWindow_; }
  // The newest preview window, while it is open.
  PreviewWindow* previewWindow() const;

 protected:
  bool closeWhenIdle() override;
  // An open preview may not apply its changes while other work goes on here.
  void busyChanged(bool busy) override;

 private:
  void layOut();
  void layOutMenu();
  void layOutStatusLine();
  void refreshPreviewList();
  // The operation chosen in the box unless another is named.
  void previewWith(Dialogs& dialogs, const QString& operation = {});
  void rewrite(const std::function<void(RewriteRun& rewrites)>& write);
  void showPreview(PreviewWindow* window);
  void layOutRecipeMenu(QMenu* runMenu);
  void layOutValuesMenu(QMenu* runMenu);
  // A map-values step of `map`'s pairs on `table`'s `field`, added to the recipe.
  void addValueMapToRecipe(const QString& table, const QString& field, const QString& map);
  void connectHandlers();
  BrowserLists lists() const;

  LoginWindow& login_;
  Dialogs& dialogs_;
  const SettingsStore& settings_;
  QWidget* contents_;  // below the menu bar, where the controls keep their places
  ProgressWindow* progressWindow_ = nullptr;
  HistoryWindow* historyWindow_ = nullptr;
  ScanWindow* scanWindow_ = nullptr;
  ValuesWindow* valuesWindow_ = nullptr;    // of the field chosen when it opened
  ClusterWindow* clusterWindow_ = nullptr;  // likewise
  std::unique_ptr<Journal> journal_;
  QPointer<PreviewWindow> previewWindow_;
  Recipe recipe_;  // the steps added or opened here; recipe() adds the scan's ticks
  QString rowCondition_;
  // The status line: `text`, then the row condition while one is set.
  void say(const QString& text);
  void recipeChanged();
  // The scan, when it lists these tables, counts their dirt again.
  void scanAgain(const QStringList& written);
  // Stops the run, undo or apply under way after its current record; empty when idle.
  std::function<void()> stopWork_;
};
