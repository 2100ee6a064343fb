#pragma once

#include "Window.h"

class Dialogs;
class FieldUpdateRun;
class LoginWindow;
class ProgressWindow;
class ListViewWidget;
class QComboBox;
class QGroupBox;
class QPushButton;
class SettingsStore;
struct BrowserLists;

// The main window: the tables, the chosen table's fields, a preview of the chosen field,
// the operation list, "Start Removing" and "Switch MySQL Database".
class MainWindow : public Window {
 public:
  MainWindow(LoginWindow& login, Dialogs& dialogs, const SettingsStore& settings);

  void load();
  void onTableClicked();
  void onFieldClicked();
  void onOperationChosen();
  void onStartClicked();
  void onSwitchDatabaseClicked();

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

  // The window that shows a run's progress and summary, made on first use.
  ProgressWindow& progressWindow();

 protected:
  bool closeWhenIdle() override;

 private:
  void layOut();
  void connectHandlers();
  BrowserLists lists() const;

  LoginWindow& login_;
  Dialogs& dialogs_;
  const SettingsStore& settings_;
  ProgressWindow* progressWindow_ = nullptr;
  FieldUpdateRun* currentRun_ = nullptr;
};
