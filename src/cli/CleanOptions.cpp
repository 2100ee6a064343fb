#include "CleanOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

std::optional<CleanOptions> ParseCleanOptions(const QStringList& arguments, QString& error,
                                              QString& helpText) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Cleans the text of one field of one table of a MySQL or MariaDB database with one of "
      "Klarifeld's 33 operations. The password comes from MYSQL_PWD, else from the [client] "
      "section of the option file (--defaults-file, else ~/.my.cnf), else it is asked for on "
      "the terminal. Exit status: 0 all written, 1 some records not written (reported, changed "
      "since, or the run stopped by Ctrl+C), 2 usage error or refused answer, 3 the connection "
      "failed or was lost."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption host({QStringLiteral("host")}, QStringLiteral("Server."),
                                QStringLiteral("name"), QStringLiteral("localhost"));
  const QCommandLineOption port({QStringLiteral("port")}, QStringLiteral("Port."),
                                QStringLiteral("number"), QStringLiteral("3306"));
  const QCommandLineOption user({QStringLiteral("user")}, QStringLiteral("User name."),
                                QStringLiteral("name"));
  const QCommandLineOption database({QStringLiteral("database")}, QStringLiteral("Database."),
                                    QStringLiteral("name"));
  const QCommandLineOption table({QStringLiteral("table")}, QStringLiteral("Table."),
                                 QStringLiteral("name"));
  const QCommandLineOption field({QStringLiteral("field")}, QStringLiteral("Field."),
                                 QStringLiteral("name"));
  const QCommandLineOption operation(
      {QStringLiteral("operation")},
      QStringLiteral("The operation: its caption or its short name (see --list-operations)."),
      QStringLiteral("name"));
  const QCommandLineOption answer(
      {QStringLiteral("answer")},
      QStringLiteral("An answer to the operation's next question, as typed in the windows."),
      QStringLiteral("text"));
  const QCommandLineOption dryRun({QStringLiteral("dry-run")},
                                  QStringLiteral("Write nothing; print every change."));
  const QCommandLineOption json({QStringLiteral("json")},
                                QStringLiteral("With --dry-run: one JSON object per change; with "
                                               "--history, per run; with --scan, per column."));
  const QCommandLineOption quietReports(
      {QStringLiteral("quiet-reports")},
      QStringLiteral("Print no report of a record; the summary groups them, with their count."));
  const QCommandLineOption list({QStringLiteral("list-operations")},
                                QStringLiteral("List the operations and their short names."));
  const QCommandLineOption password(
      {QStringLiteral("password")},
      QStringLiteral("The password (others can read it in the process list: avoid)."),
      QStringLiteral("text"));
  const QCommandLineOption defaultsFile(
      {QStringLiteral("defaults-file")},
      QStringLiteral("The option file to read the password from."), QStringLiteral("file"));
  const QCommandLineOption profile({QStringLiteral("profile")},
                                   QStringLiteral("Connect as the login window last did."));
  const QCommandLineOption sslMode(
      {QStringLiteral("ssl-mode")},
      QStringLiteral("PREFERRED (the default), REQUIRED, VERIFY_CA or VERIFY_IDENTITY."),
      QStringLiteral("mode"));
  const QCommandLineOption sslCa({QStringLiteral("ssl-ca")},
                                 QStringLiteral("The CA file that checks the server."),
                                 QStringLiteral("file"));
  const QCommandLineOption scan(
      {QStringLiteral("scan")},
      QStringLiteral("Count the invisible and stray characters in every text column (of --table "
                     "only, when given), with the operation that cleans each kind; writes "
                     "nothing."));
  const QCommandLineOption history({QStringLiteral("history")},
                                   QStringLiteral("List the journaled runs."));
  const QCommandLineOption undo({QStringLiteral("undo")},
                                QStringLiteral("Take journaled run RUN back."),
                                QStringLiteral("RUN"));
  parser.addOptions({host,  port,         user,  password, defaultsFile, profile, sslMode,
                     sslCa, database,     table, field,    operation,    answer,  dryRun,
                     json,  quietReports, list,  scan,     history,      undo});
  helpText = parser.helpText();
  if (!parser.parse(arguments)) {
    error = parser.errorText();
    return std::nullopt;
  }
  if (parser.isSet(QStringLiteral("help"))) return std::nullopt;
  if (parser.isSet(QStringLiteral("version"))) {
    helpText = QStringLiteral("klarifeld-clean %1\n").arg(QCoreApplication::applicationVersion());
    return std::nullopt;
  }
  CleanOptions options;
  options.host = parser.value(host);
  options.port = parser.value(port);
  options.user = parser.value(user);
  options.database = parser.value(database);
  options.table = parser.value(table);
  options.field = parser.value(field);
  options.operation = parser.value(operation);
  options.answers = parser.values(answer);
  options.dryRun = parser.isSet(dryRun);
  options.json = parser.isSet(json);
  options.quietReports = parser.isSet(quietReports);
  options.listOperations = parser.isSet(list);
  options.scan = parser.isSet(scan);
  if (parser.isSet(password)) options.password = parser.value(password);
  options.defaultsFile = parser.value(defaultsFile);
  options.profile = parser.isSet(profile);
  options.sslMode = parser.value(sslMode);
  options.sslCa = parser.value(sslCa);
  options.history = parser.isSet(history);
  for (const QString& name :
       {QStringLiteral("host"), QStringLiteral("port"), QStringLiteral("user"),
        QStringLiteral("ssl-mode"), QStringLiteral("ssl-ca")}) {
    if (parser.isSet(name)) options.given << name;
  }
  if (parser.isSet(undo)) {
    bool number = false;
    options.undo = parser.value(undo).toLongLong(&number);
    if (!number || options.undo <= 0) {
      error = QStringLiteral("--undo takes the number of a run, as --history lists them.");
      return std::nullopt;
    }
  }
  if (options.listOperations || options.history) return options;
  if (options.undo) return options;
  if (options.scan) {
    if (options.database.isEmpty()) {
      error = QStringLiteral("--database is required.");
      return std::nullopt;
    }
    return options;
  }
  for (const auto& [value, name] :
       {std::pair{options.database, "--database"}, std::pair{options.table, "--table"},
        std::pair{options.field, "--field"}, std::pair{options.operation, "--operation"}}) {
    if (value.isEmpty()) {
      error = QStringLiteral("%1 is required.").arg(QLatin1String(name));
      return std::nullopt;
    }
  }
  if (options.json && !options.dryRun) {
    error = QStringLiteral("--json goes with --dry-run.");
    return std::nullopt;
  }
  return options;
}
