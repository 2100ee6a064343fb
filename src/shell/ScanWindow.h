#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>

#include "Recipe.h"
#include "TablesScan.h"

class Connection;
class Dialogs;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// What a finding opens: the table, the field and the operation that cleans it, with its
// answers.
struct ScanFinding {
  QString table;
  QString column;
  DirtKind kind;
};

// What the scan's findings lead to in the main window, which keeps the one recipe.
struct ScanActions {
  std::function<void(const ScanFinding&)> preview;
  std::function<void()> previewRecipe;
  std::function<void()> saveRecipe;
  std::function<void()> ticksChanged;
};

// Scans tables for dirt one by one, with a progress bar and Stop, and lists what it finds:
// a sortable list of table, column, kind, rows, share and the operation that cleans it,
// with examples of the chosen finding. Enter or a double-click opens Preview Changes for
// it; Ctrl+C copies the chosen findings as text. Findings ticked (Space) are steps of the
// main window's recipe, previewed as one ("Preview All…") or saved.
class ScanWindow : public QDialog {
 public:
  ScanWindow(QWidget* mainWindow, Dialogs& dialogs, ScanActions actions);
  ~ScanWindow() override;

  // Scans `tables`, listing each table's findings as its scan ends; returns when all are
  // scanned, or when Stop ends the scan. Nothing while a scan or a fetch is under way. Tables that
  // hold more than `LargeTotal` rows together may be scanned on a sample of `SampleRows` each, when
  // the user agrees.
  // Only the rows where `rows` holds, when it is given (a table of its own).
  void scan(const QString& connectionString, const QStringList& tables, const QString& rows = {});
  static constexpr qint64 LargeTotal = 10'000'000;
  static constexpr qint64 SampleRows = 1'000'000;
  // Stops the scan under way: the server ends the statement at once.
  void stop();
  bool isScanning() const { return scanning_; }
  // The findings chosen in the list, as lines of text with a header.
  QString chosenAsText() const;
  // The ticked findings' suggested operations, in the list's order, one step each.
  Recipe tickedRecipe() const;
  void untickAll();
  // Says how many steps the recipe has in all, the ticked findings with them.
  void showRecipeSteps(qsizetype steps);
  // Counts the dirt of these tables again, after they were written: the findings cleaned
  // go, the others show their new counts. Tables the scan did not list are left.
  void scanAgain(const QStringList& tables);

  QLabel* progressText;
  QProgressBar* progressBar;
  QPushButton* stopButton;
  QTreeWidget* findingList;
  QLabel* tickedText;
  QLabel* examplesText;
  QPushButton* previewButton;
  QPushButton* copyButton;
  QPushButton* previewAllButton;
  QPushButton* saveRecipeButton;
  QPushButton* closeButton;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void layOut();
  void list(const std::vector<ColumnFindings>& findings, const QStringList& ticked = {});
  void tickChosen();
  QStringList connectForTables(const QString& connectionString, const QStringList& listed);
  qint64 sampleRowsFor(qint64 estimatedRows);
  void sayHowItEnded(qsizetype scanned, qsizetype tables, qint64 sampleRows);
  void followChoice();
  void followTicks();
  void showExamples();
  void previewChosen();
  std::optional<ScanFinding> chosenFinding() const;

  Dialogs& dialogs_;
  ScanActions actions_;
  std::unique_ptr<Connection> connection_;
  std::atomic<bool> stopped_ = false;
  bool scanning_ = false;
  bool connecting_ = false;
  bool fetchingExamples_ = false;
  bool examplesWanted_ = false;  // chosen again while the examples were fetched
  qint64 columnsScanned_ = 0;
  qint64 estimatedRows_ = 0;
  qint64 sampleRows_ = 0;  // of the last scan, which a scan again keeps
  QString rows_;           // the row condition of the last scan
  qsizetype recipeSteps_ = 0;
};
