#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the command line asks for.
struct CleanOptions {
  QString host = QStringLiteral("localhost");
  QString port = QStringLiteral("3306");
  QString user;
  std::optional<QString> password;  // --password, which others can see in the process list
  QString defaultsFile;             // an option file whose [client] password counts
  bool profile = false;             // the login window's stored settings instead
  QStringList given;                // the connection options given on the command line, by name
  QString sslMode;
  QString sslCa;
  QString database;
  QString table;
  QString field;
  QString operation;  // a caption or a short name
  QStringList answers;
  bool dryRun = false;
  bool json = false;
  bool listOperations = false;
  bool quietReports = false;
  bool history = false;
  bool scan = false;
  qint64 undo = 0;  // the run to take back
};

// Exit statuses, as the manual page gives them.
enum ExitStatus {
  AllWritten = 0,
  SomeReported = 1,
  UsageError = 2,
  ConnectionFailed = 3,
  JournalFailed = 4,
};

// The options of `arguments`, or a message for a usage error (then `error` is set).
std::optional<CleanOptions> ParseCleanOptions(const QStringList& arguments, QString& error,
                                              QString& helpText);
