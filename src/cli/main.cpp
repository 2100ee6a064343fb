// klarifeld-clean: Klarifeld's cleaning operations from a terminal.
#include <QCoreApplication>
#include <iostream>

#include "CleanCommand.h"
#include "CleanOptions.h"

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("klarifeld-clean"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KLARIFELD_VERSION));
  QString error, help;
  const std::optional<CleanOptions> options =
      ParseCleanOptions(QCoreApplication::arguments(), error, help);
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
