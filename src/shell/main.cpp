#include <QApplication>

#include "Form1.h"
#include "QtDialogs.h"
#include "SettingsStore.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QtDialogs dialogs;
  const SettingsStore settings;
  Form1 login(dialogs, settings);
  login.start();
  return application.exec();
}
