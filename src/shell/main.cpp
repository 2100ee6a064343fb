#include <QApplication>
#include <cstdio>
#include <cstring>

#include "LoginWindow.h"
#include "QtDialogs.h"
#include "SettingsStore.h"

namespace {

// Answered before anything needs a display.
bool answeredFromTheCommandLine(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("klarifeld %s\n", KLARIFELD_VERSION);
      return true;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "Usage: klarifeld [--version] [--help]\n"
          "Cleans the text of one field of a MySQL or MariaDB table, in windows: log in, pick a\n"
          "table, a field and one of 34 operations, then \"Start Removing\" or \"Run\" ->\n"
          "\"Preview Changes...\". Every run is journaled and can be undone from \"Run\" ->\n"
          "\"History...\". From a terminal, see klarifeld-clean(1).\n");
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (answeredFromTheCommandLine(argc, argv)) return 0;
  QApplication application(argc, argv);
  // Lets the desktop match the windows to the installed menu entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.klarifeld.Klarifeld"));
  QtDialogs dialogs;
  const SettingsStore settings;
  LoginWindow login(dialogs, settings);
  login.start();
  return application.exec();
}
