// Arbitrary bytes as an option file, and as a command line (split at NUL bytes): nothing may
// crash, hang or read past its input, and every outcome is either options or one message.
#include <QCoreApplication>
#include <QDir>
#include <cstdlib>

#include "CleanOptions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No ~/.my.cnf of the machine's.
  setenv("HOME", "/nonexistent", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  for (const OptionSetting& setting : ReadOptionFileText(bytes)) {
    if (setting.key.isEmpty()) std::abort();
  }
  QStringList arguments{QStringLiteral("klarifeld-clean")};
  for (const QByteArray& piece : bytes.split('\0')) {
    // Files named on a fuzzed line would be read from this machine.
    if (piece.contains("defaults")) return 0;
    arguments << QString::fromUtf8(piece);
  }
  const CommandLine line = ParseCleanOptions(arguments);
  if (line.options.has_value() == (!line.error.isEmpty() || !line.output.isEmpty())) std::abort();
  return 0;
}
