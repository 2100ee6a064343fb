#pragma once

#include <memory>

#include "Window.h"

class Dialogs;
class Form2;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SettingsStore;

// The login window: the connection profile in five boxes, "Test Connection", "Help",
// and "Next >" to the main window.
class Form1 : public Window {
 public:
  Form1(Dialogs& dialogs, const SettingsStore& settings);
  ~Form1() override;

  // The start-up: loads the window, which may move straight on to the main window, and
  // shows it unless it did.
  void start();
  void Form_Load();

  void PushButton3_Click();  // "Next >"
  void PushButton4_Click();  // "Help"
  void PushButton5_Click();  // "Test Connection"

  // The connection string of the boxes as they stand now.
  QString connectionString() const;
  // The main window, loaded on first use.
  Form2& form2();
  bool form2Loaded() const { return form2_ != nullptr; }

  QGroupBox* Frame1;
  QLineEdit* Text1;  // server
  QLineEdit* Text2;  // user name
  QLineEdit* Text3;  // password
  QLineEdit* Text4;  // database
  QLineEdit* Text5;  // port
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label9;
  QPushButton* PushButton3;
  QPushButton* PushButton4;
  QPushButton* PushButton5;

 private:
  void layOut();
  void connectHandlers();
  // Each edit of a box is stored under its key at once.
  void storeOnChange(QLineEdit* box, const QString& key, const QString& tag);

  Dialogs& dialogs_;
  const SettingsStore& settings_;
  std::unique_ptr<Form2> form2_;
};
