// klarifeld-clean: Klarifeld's cleaning operations from a terminal.
#include <sys/prctl.h>

#include <QCoreApplication>
#include <cstring>
#include <iostream>

#include "CleanCommand.h"
#include "CleanOptions.h"

namespace {

// Other users can read a process's arguments as long as it runs: a password given with
// --password is blanked in place once read, and a process holding one cannot be dumped.
void hidePasswordArguments(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    char* argument = argv[i];
    char* secret = nullptr;
    if (std::strncmp(argument, "--password=", 11) == 0) {
      secret = argument + 11;
    } else if (std::strcmp(argument, "--password") == 0 && i + 1 < argc) {
      secret = argv[++i];
    }
    if (secret) {
      std::memset(secret, 'x', std::strlen(secret));
      ::prctl(PR_SET_DUMPABLE, 0);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  // The arguments are copied by now.
  const QStringList arguments = QCoreApplication::arguments();
  hidePasswordArguments(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("klarifeld-clean"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KLARIFELD_VERSION));
  QString error, help;
  const std::optional<CleanOptions> options = ParseCleanOptions(arguments, error, help);
  if (!options) {
    if (error.isEmpty()) {
      std::cout << help.toStdString();
      return AllWritten;
    }
    std::cerr << "klarifeld-clean: " << error.toStdString() << "\n" << std::endl;
    return UsageError;
  }
  return RunCleanCommand(*options);
}
