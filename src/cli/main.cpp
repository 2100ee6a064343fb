// klarifeld-clean: Klarifeld's cleaning operations from a terminal.
#include <sys/prctl.h>

#include <QCoreApplication>
#include <cstring>
#include <iostream>

#include "CleanCommand.h"
#include "CleanOptions.h"
#include "LinkRefusal.h"
#include "VisibleText.h"

namespace {

// Other users can read a process's arguments as long as it runs: a password given with
// --password=TEXT or -pTEXT is blanked in place once read, and a process holding one cannot
// be dumped. An argument after a bare --password is refused, but most likely a password too.
void hidePasswordArguments(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    char* argument = argv[i];
    char* secret = nullptr;
    if (std::strcmp(argument, "--") == 0) break;
    if (std::strncmp(argument, "--password=", 11) == 0) {
      secret = argument + 11;
    } else if (std::strncmp(argument, "-p", 2) == 0 && argument[2] != '\0') {
      secret = argument + 2;
    } else if (std::strcmp(argument, "--password") == 0 && i + 1 < argc && argv[i + 1][0] != '-') {
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
  UseSettingWords(SettingWords::Options);
  const CommandLine line = ParseCleanOptions(arguments);
  for (const QString& warning : line.warnings) {
    std::cerr << "klarifeld-clean: " << warning.toStdString() << std::endl;
  }
  if (line.options) {
    try {
      return RunCleanCommand(*line.options);
    } catch (const std::exception& failure) {
      // A reply or state that nothing expected: one clear line, never an abort.
      std::cerr << "klarifeld-clean: "
                << WithControlMarks(QString::fromUtf8(failure.what())).toStdString() << std::endl;
      return ConnectionFailed;
    }
  }
  if (line.error.isEmpty()) {
    std::cout << line.output.toStdString();
    return AllWritten;
  }
  std::cerr << "klarifeld-clean: " << line.error.toStdString() << "\n"
            << "Try 'klarifeld-clean --help' for the options." << std::endl;
  return UsageError;
}
