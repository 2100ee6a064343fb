#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "OptionFiles.h"

// What the command line and the option files ask for.
struct CleanOptions {
  QString host = QStringLiteral("localhost");
  QString port = QStringLiteral("3306");
  QString socket;
  QString user;
  std::optional<QString> password;       // from the command line or an option file
  bool askPassword = false;              // -p or --password alone, or "password" alone in a file
  bool databaseFollowsPassword = false;  // given bare, right after -p alone: never echoed
  bool profile = false;                  // the login window's stored settings instead
  QStringList given;  // the connection options given on the command line, by name
  QString engine;     // "postgresql"; empty: MariaDB or MySQL
  QString sslMode;
  QString sslCa;
  QString database;
  QString table;
  QString field;
  QString operation;  // a caption or a short name
  QStringList answers;
  QString mapFile;  // map-values' pairs, its one answer
  QString where;    // the row condition; empty: every row
  QString recipe;   // the file of a recipe, instead of a table, a field and an operation
  bool dryRun = false;
  QString applyChanges;  // a dry run's JSON output: only its changes are written
  bool json = false;
  bool listOperations = false;
  bool quietReports = false;
  bool allReports = false;
  bool history = false;
  bool scan = false;
  bool values = false;
  qint64 limit = 0;  // --values lists at most that many; 0: all
  QString cluster;   // the method that clusters the field's values; empty: none
  std::optional<qint64> ngram, radius, block;  // its settings; none: the defaults
  QString mapOut;                              // where the clusters go as map-values' pairs
  qint64 sample = 0;  // a scan reads only the first that many rows of each table
  qint64 undo = 0;    // the run to take back
};

// Exit statuses, as the manual page gives them.
enum ExitStatus {
  AllWritten = 0,
  SomeReported = 1,
  UsageError = 2,
  ConnectionFailed = 3,
  JournalFailed = 4,
};

// One option of the command line as given: its long name, and its value if it has one.
// A bare argument is given as "database", as the standard clients take it.
struct GivenOption {
  QString name;
  std::optional<QString> value;
  // A bare database right after -p or --password alone: it may be a password put there.
  bool followsPassword = false;
};

// The options of `arguments` (the program's name first), read as the standard clients read
// theirs: "--name=value" or "--name value", "-xVALUE" or "-x VALUE", and "-p"/"--password"
// taking a value only when it is attached. Nothing, with `error` set, for a usage error.
std::optional<std::vector<GivenOption>> SplitArguments(const QStringList& arguments,
                                                       QString& error);

// What a command line comes to, once the option files it names are read.
struct CommandLine {
  std::optional<CleanOptions> options;  // none: print `output`, or `error` as a usage error
  QString output;                       // --help or --version
  QString error;
  QStringList warnings;
};

CommandLine ParseCleanOptions(const QStringList& arguments);
