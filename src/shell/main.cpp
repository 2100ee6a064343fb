#include <QApplication>

#include "LoginWindow.h"
#include "QtDialogs.h"
#include "SettingsStore.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QtDialogs dialogs;
  const SettingsStore settings;
  LoginWindow login(dialogs, settings);
  login.start();
  return application.exec();
}
