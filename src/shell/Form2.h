#pragma once

#include "Window.h"

class Dialogs;
class Form1;
class ListViewWidget;
class QComboBox;
class QGroupBox;
class QPushButton;
class SettingsStore;
struct BrowserLists;

// The main window: the tables, the chosen table's fields, a preview of the chosen field,
// the operation list, "Start Removing" and "Switch MySQL Database".
class Form2 : public Window {
 public:
  Form2(Form1& login, Dialogs& dialogs, const SettingsStore& settings);

  void Form_Load();
  void ListView1_Click();
  void ListView2_Click();
  void Combo1_Click();
  void PushButton2_Click();  // "Start Removing"
  void PushButton3_Click();  // "Switch MySQL Database"

  // Lists the tables of the login window's database in place of those listed before. The
  // chosen table stays chosen when it is listed again; otherwise its fields and preview go
  // with it, as no listed table has them.
  void relistTables();

  ListViewWidget* ListView1;  // tables
  ListViewWidget* ListView2;  // fields
  ListViewWidget* ListView3;  // preview
  QGroupBox* Frame1;
  QComboBox* Combo1;
  QPushButton* PushButton2;
  QPushButton* PushButton3;

 private:
  void layOut();
  void connectHandlers();
  BrowserLists lists() const;

  Form1& login_;
  Dialogs& dialogs_;
  const SettingsStore& settings_;
};
