#pragma once

// What the window tests share: a settings store and a journal in folders of their own,
// the scripted dialogs, a database on the test server, and the login window built on them.

#include <QTemporaryDir>
#include <QTreeWidget>
#include <memory>

#include "LoginWindow.h"
#include "ScriptedDialogs.h"
#include "SettingsStore.h"
#include "TestServer.h"

class WindowTest {
 public:
  WindowTest();
  ~WindowTest();

  // Stores a profile that connects to `db`, or to `database` when given.
  void storeWorkingProfile(const QString& database);
  // The login window, built (not loaded) on first use.
  LoginWindow& login();
  // Starts the program as main() does.
  LoginWindow& start();

  // Clicks entry `row` of a list the way the user does.
  static void clickEntry(QTreeWidget* list, int row);
  static QStringList entries(const QTreeWidget* list);
  // Moves the mouse over a control, as far as the window's hover handling can tell.
  static void moveMouseOver(QWidget* control);

  QTemporaryDir configHome;
  QTemporaryDir dataHome;
  SettingsStore settings;
  ScriptedDialogs dialogs;
  ScratchDatabase db;
  int programEnds = 0;

 private:
  std::unique_ptr<LoginWindow> login_;
};
