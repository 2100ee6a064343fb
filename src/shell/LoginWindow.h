#pragma once

#include <memory>

#include "ConnectAttempt.h"
#include "ConnectionString.h"
#include "StoredPassword.h"
#include "Window.h"

class Dialogs;
class MainWindow;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SettingsStore;

// The login window: the connection profile in five boxes, its encryption beside them,
// "Test Connection", "Help", and "Next >" to the main window.
class LoginWindow : public Window {
 public:
  LoginWindow(Dialogs& dialogs, const SettingsStore& settings);
  ~LoginWindow() override;

  // The start-up: loads the window, which may move straight on to the main window, and
  // shows it unless it did.
  void start();
  void load();

  void onNextClicked();
  void onHelpClicked();
  void onTestConnectionClicked();
  void onChooseCaFileClicked();

  // The connection string of the boxes as they stand now.
  QString connectionString() const;
  // Its settings, read from that string.
  ConnectionAttributes login() const { return ParseConnectionString(connectionString()); }
  // The main window, loaded on first use.
  MainWindow& mainWindow();
  bool mainWindowLoaded() const { return mainWindow_ != nullptr; }

  QGroupBox* loginFrame;
  QLineEdit* serverBox;
  QLineEdit* userBox;
  QLineEdit* passwordBox;
  QLineEdit* databaseBox;
  QLineEdit* portBox;
  QLabel* userLabel;
  QLabel* serverLabel;
  QLabel* databaseLabel;
  QLabel* passwordLabel;
  QLabel* portLabel;
  QPushButton* nextButton;
  QPushButton* helpButton;
  QPushButton* testConnectionButton;
  QGroupBox* encryptionFrame;
  QLabel* engineLabel;
  QComboBox* engineBox;  // MySQL / MariaDB, or PostgreSQL
  QLabel* encryptionLabel;
  QComboBox* encryptionBox;
  QLabel* caFileLabel;
  QLineEdit* caFileBox;
  QPushButton* chooseCaFileButton;
  QLabel* encryptionNote;
  QLabel* connectionNote;  // why the start-up did not connect

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void layOut();
  void layOutEncryption();
  Encryption encryption() const;
  // "PostgreSQL", or empty for MariaDB and MySQL.
  QString engine() const;
  void onEngineChosen();
  void showEncryptionNote();
  void connectHandlers();
  // Whether the boxes' values open a connection, tried off the window thread; when `sayWhy`,
  // a box tells why not.
  bool connects(bool sayWhy);
  // The server's reason and what to do; for an unknown database, the ones there are.
  QString whyNot(const ConnectAttempt& attempt);
  void showConnectionNote(const QString& reason, const QString& whole);
  // The server's databases become the Database box's suggestions.
  void offerDatabases(const QStringList& names);
  // Each edit of a box is stored under its key at once.
  void storeOnChange(QLineEdit* box, const QString& key, const QString& tag);

  Dialogs& dialogs_;
  const SettingsStore& settings_;
  StoredPassword password_;
  std::unique_ptr<MainWindow> mainWindow_;
};
