#include "CleanOptions.h"

#include <QCoreApplication>

namespace {

enum class Takes {
  Nothing,
  Value,          // "--name=value", "--name value", "-xvalue" or "-x value"
  AttachedValue,  // only "--name=value" or "-xvalue": alone, the option asks for it
};

struct OptionSpec {
  const char* name;
  char letter;  // 0: no short form
  Takes takes;
  const char* valueName;
  const char* help;
};

constexpr OptionSpec Options[] = {
    {"host", 'h', Takes::Value, "NAME", "The server (localhost, the default: the local one)."},
    {"port", 'P', Takes::Value, "NUMBER", "Its port (3306)."},
    {"socket", 'S', Takes::Value, "FILE", "The local server's socket file."},
    {"user", 'u', Takes::Value, "NAME", "The user name."},
    {"password", 'p', Takes::AttachedValue, "TEXT",
     "The password. Alone, it is asked for; given here, others can read it in the process "
     "list: avoid."},
    {"database", 'D', Takes::Value, "NAME", "The database (or give it as the last argument)."},
    {"engine", 0, Takes::Value, "NAME",
     "mariadb (the default, for MySQL too) or postgresql (port 5432 unless given)."},
    {"ssl-mode", 0, Takes::Value, "MODE",
     "PREFERRED (the default), REQUIRED, VERIFY_CA or VERIFY_IDENTITY."},
    {"ssl-ca", 0, Takes::Value, "FILE", "The CA file that checks the server."},
    {"ssl-verify-server-cert", 0, Takes::Nothing, nullptr, "As --ssl-mode=VERIFY_IDENTITY."},
    {"profile", 0, Takes::Nothing, nullptr, "Connect as the login window last did."},
    {"defaults-file", 0, Takes::Value, "FILE", "Read options from FILE instead of ~/.my.cnf."},
    {"defaults-extra-file", 0, Takes::Value, "FILE", "Read FILE too, before ~/.my.cnf."},
    {"no-defaults", 0, Takes::Nothing, nullptr, "Read no option file."},
    {"print-defaults", 0, Takes::Nothing, nullptr,
     "Print what the option files give, as arguments, and exit."},
    {"table", 0, Takes::Value, "NAME", "The table."},
    {"field", 0, Takes::Value, "NAME", "The field."},
    {"operation", 0, Takes::Value, "NAME",
     "The operation: its caption or its short name (see --list-operations)."},
    {"map", 0, Takes::Value, "FILE",
     "With --operation map-values: its [old, new] pairs, a JSON array, from FILE."},
    {"answer", 0, Takes::Value, "TEXT",
     "An answer to the operation's next question, as typed in the windows."},
    {"dry-run", 0, Takes::Nothing, nullptr, "Write nothing; print every change."},
    {"apply-changes", 0, Takes::Value, "FILE",
     "Write only the changes of FILE, the output of --dry-run --json with the same options "
     "(lines taken out are left), each checked as the run checks it."},
    {"json", 0, Takes::Nothing, nullptr,
     "With --dry-run: one JSON object per change; with --history, per run; with --values, per "
     "value; with --scan, per "
     "column."},
    {"quiet-reports", 0, Takes::Nothing, nullptr,
     "Print no report of a record; the summary groups them, with their count."},
    {"all-reports", 0, Takes::Nothing, nullptr,
     "Print every report of a record; else those after the first 10 are grouped in the "
     "summary."},
    {"list-operations", 0, Takes::Nothing, nullptr,
     "List the operations, their short names and their questions."},
    {"scan", 0, Takes::Nothing, nullptr,
     "Count the invisible and stray characters in every text column (of --table only, when "
     "given), with the operation that cleans each kind; writes nothing."},
    {"where", 0, Takes::Value, "EXPR",
     "Only the rows where the SQL condition EXPR holds (a run, a dry run, --apply-changes, "
     "--values, --cluster, --scan with --table); checked before anything is read."},
    {"values", 0, Takes::Nothing, nullptr,
     "List the field's distinct values with how many rows hold each, most frequent first "
     "(counted on the server by their bytes); with --json one object per value."},
    {"limit", 0, Takes::Value, "N", "With --values: only the N most frequent values."},
    {"cluster", 0, Takes::Value, "METHOD",
     "Cluster the field's distinct values, the spellings of one thing: fingerprint, "
     "ngram-fingerprint or levenshtein; prints the clusters, largest first, with the value "
     "each would become; with --json one object per cluster. Writes nothing."},
    {"ngram", 0, Takes::Value, "N",
     "With --cluster ngram-fingerprint: the n-gram size, 1 to 6 (2)."},
    {"radius", 0, Takes::Value, "R",
     "With --cluster levenshtein: the most edits between neighbours, 1 to 5 (2)."},
    {"block", 0, Takes::Value, "B",
     "With --cluster levenshtein: compare only values sharing B characters in a row, 2 to 10 "
     "(6); smaller finds more and costs more."},
    {"map-out", 0, Takes::Value, "FILE",
     "With --cluster: write the clusters to FILE as map-values' pairs, each value to its "
     "suggestion, for --map or a recipe."},
    {"sample", 0, Takes::Value, "ROWS",
     "With --scan: read only the first ROWS rows of each table, and say that it is a sample."},
    {"recipe", 0, Takes::Value, "FILE",
     "Clean as the recipe FILE says: its steps, on several fields and tables, as one run."},
    {"history", 0, Takes::Nothing, nullptr, "List the journaled runs."},
    {"undo", 0, Takes::Value, "RUN", "Take journaled run RUN back."},
    {"help", '?', Takes::Nothing, nullptr, "Show this help."},
    {"version", 'V', Takes::Nothing, nullptr, "Show the version."},
};

// The option files' keys that count here; the files' other keys are for other programs.
constexpr const char* FileKeys[] = {"host",     "port",     "socket",
                                    "user",     "password", "database",
                                    "ssl-mode", "ssl-ca",   "ssl-verify-server-cert"};

const OptionSpec* optionNamed(QStringView name) {
  for (const OptionSpec& option : Options) {
    if (name == QLatin1String(option.name)) return &option;
  }
  return nullptr;
}

const OptionSpec* optionLettered(QChar letter) {
  for (const OptionSpec& option : Options) {
    if (option.letter && letter == QLatin1Char(option.letter)) return &option;
  }
  return nullptr;
}

// `text` broken into lines of at most 80 columns, each after the first indented by `indent`.
QString wrapped(const QString& text, qsizetype indent) {
  constexpr qsizetype Width = 80;
  QString lines;
  qsizetype column = indent;
  for (const QString& word : text.split(u' ')) {
    if (column > indent && column + 1 + word.size() > Width) {
      lines += u'\n' + QString(indent, u' ');
      column = indent;
    } else if (column > indent) {
      lines += u' ';
      ++column;
    }
    lines += word;
    column += word.size();
  }
  return lines + u'\n';
}

QString helpText() {
  QString text = QStringLiteral("Usage: klarifeld-clean [OPTIONS] [DATABASE]\n\n");
  for (const char* paragraph :
       {"Cleans the text of one field of one table of a MySQL or MariaDB database with one of "
        "Klarifeld's operations.",
        "Options come from the command line, then from the groups [client], [client-server], "
        "[client-mariadb] and [klarifeld-clean] of ~/.my.cnf. The password comes from the "
        "command line, else from an option file, else from MYSQL_PWD, else it is asked for on "
        "the terminal.",
        "Exit status: 0 all written; 1 some records not written (reported, changed since, or the "
        "run stopped by Ctrl+C); 2 usage error or refused answer; 3 the connection failed or was "
        "lost; 4 the journal could not be read or written."}) {
    text += wrapped(QLatin1String(paragraph), 0) + u'\n';
  }
  constexpr qsizetype HelpColumn = 32;
  for (const OptionSpec& option : Options) {
    QString names = option.letter ? QStringLiteral("  -%1, --").arg(QLatin1Char(option.letter))
                                  : QStringLiteral("      --");
    names += QLatin1String(option.name);
    if (option.takes == Takes::Value) names += u'=' + QLatin1String(option.valueName);
    if (option.takes == Takes::AttachedValue) {
      names += QStringLiteral("[=") + QLatin1String(option.valueName) + u']';
    }
    if (names.size() >= HelpColumn) names += u'\n' + QString(HelpColumn, u' ');
    text += names.leftJustified(HelpColumn) + wrapped(QLatin1String(option.help), HelpColumn);
  }
  return text;
}

// Reads one option starting at `arguments[at]`, leaving `at` on its last argument.
std::optional<GivenOption> splitOne(const QStringList& arguments, qsizetype& at, QString& error) {
  const QString& argument = arguments[at];
  const bool longForm = argument.startsWith(QStringLiteral("--"));
  const qsizetype equals = longForm ? argument.indexOf(u'=') : -1;
  QString name = longForm ? argument.mid(2, equals < 0 ? -1 : equals - 2) : QString();
  name.replace(u'_', u'-');
  const OptionSpec* option = longForm ? optionNamed(name) : optionLettered(argument[1]);
  if (!option) {
    error = QStringLiteral("unknown option '%1'.")
                .arg(longForm ? argument.left(equals < 0 ? argument.size() : equals)
                              : argument.left(2));
    return std::nullopt;
  }
  const QString shown =
      longForm ? QStringLiteral("--") + name : QStringLiteral("-") + QLatin1Char(option->letter);
  std::optional<QString> attached;
  if (longForm && equals >= 0) attached = argument.mid(equals + 1);
  if (!longForm && argument.size() > 2) attached = argument.mid(2);
  switch (option->takes) {
    case Takes::Nothing:
      if (attached) {
        error = QStringLiteral("option '%1' takes no value.").arg(shown);
        return std::nullopt;
      }
      return GivenOption{QLatin1String(option->name), std::nullopt};
    case Takes::AttachedValue:
      return GivenOption{QLatin1String(option->name), attached};
    case Takes::Value:
      if (attached) return GivenOption{QLatin1String(option->name), attached};
      if (at + 1 >= arguments.size()) {
        error = QStringLiteral("option '%1' needs a value.").arg(shown);
        return std::nullopt;
      }
      return GivenOption{QLatin1String(option->name), arguments[++at]};
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<GivenOption>> SplitArguments(const QStringList& arguments,
                                                       QString& error) {
  std::vector<GivenOption> given;
  bool bare = false;  // after "--", every argument is a bare one
  bool database = false;
  for (qsizetype at = 1; at < arguments.size(); ++at) {
    const QString& argument = arguments[at];
    if (!bare && argument == QStringLiteral("--")) {
      bare = true;
      continue;
    }
    if (!bare && argument.size() > 1 && argument.startsWith(u'-')) {
      std::optional<GivenOption> option = splitOne(arguments, at, error);
      if (!option) return std::nullopt;
      given.push_back(std::move(*option));
      continue;
    }
    // As the standard clients read it: -p alone asks, and the argument after it is the
    // database, which is never echoed, since it may be a password put there.
    const bool followsPassword =
        !given.empty() && given.back().name == QStringLiteral("password") && !given.back().value;
    if (database) {
      error = QStringLiteral(
                  "unexpected argument '%1': only the database is given without an "
                  "option.")
                  .arg(argument);
      return std::nullopt;
    }
    database = true;
    given.push_back({QStringLiteral("database"), argument, followsPassword});
  }
  return given;
}

namespace {

bool isOn(const std::optional<QString>& value) {
  if (!value) return true;
  const QString v = value->trimmed().toLower();
  return v != QStringLiteral("0") && v != QStringLiteral("off") && v != QStringLiteral("false");
}

// The number of a "--name=N" that takes a positive number; nothing, with `error` set, else.
std::optional<qint64> positiveNumber(const QString& value, const char* problem, QString& error) {
  bool number = false;
  const qint64 n = value.toLongLong(&number);
  if (number && n > 0) return n;
  error = QLatin1String(problem);
  return std::nullopt;
}

// Sets one option of the command line or of a file. The one place that knows what each does.
bool apply(CleanOptions& options, const GivenOption& option, QString& error) {
  const QString& name = option.name;
  const QString value = option.value.value_or(QString());
  const std::pair<const char*, QString*> texts[] = {
      {"host", &options.host},         {"port", &options.port},
      {"socket", &options.socket},     {"user", &options.user},
      {"database", &options.database}, {"ssl-mode", &options.sslMode},
      {"ssl-ca", &options.sslCa},      {"table", &options.table},
      {"field", &options.field},       {"operation", &options.operation},
      {"recipe", &options.recipe},     {"apply-changes", &options.applyChanges},
      {"map", &options.mapFile},       {"where", &options.where},
      {"cluster", &options.cluster},   {"map-out", &options.mapOut},
      {"engine", &options.engine}};
  const std::pair<const char*, bool*> flags[] = {{"profile", &options.profile},
                                                 {"dry-run", &options.dryRun},
                                                 {"json", &options.json},
                                                 {"quiet-reports", &options.quietReports},
                                                 {"all-reports", &options.allReports},
                                                 {"list-operations", &options.listOperations},
                                                 {"scan", &options.scan},
                                                 {"values", &options.values},
                                                 {"history", &options.history}};
  for (const auto& [textName, text] : texts) {
    if (name != QLatin1String(textName)) continue;
    if (!option.value) {
      error = QStringLiteral("option '%1' needs a value.").arg(name);
      return false;
    }
    *text = value;
    if (text == &options.database) options.databaseFollowsPassword = option.followsPassword;
    return true;
  }
  for (const auto& [flagName, flag] : flags) {
    if (name == QLatin1String(flagName)) *flag = true;
  }
  if (name == QStringLiteral("password")) {
    options.password = option.value;
    options.askPassword = !option.value;
  } else if (name == QStringLiteral("ssl-verify-server-cert")) {
    // The standard clients' switch for checking the certificate and the host name.
    if (isOn(option.value)) options.sslMode = QStringLiteral("VERIFY_IDENTITY");
  } else if (name == QStringLiteral("answer")) {
    options.answers << value;
  } else if (name == QStringLiteral("undo")) {
    const auto run =
        positiveNumber(value, "--undo takes the number of a run, as --history lists them.", error);
    if (!run) return false;
    options.undo = *run;
  } else if (name == QStringLiteral("limit")) {
    const auto values = positiveNumber(value, "--limit takes a number of values.", error);
    if (!values) return false;
    options.limit = *values;
  } else if (name == QStringLiteral("ngram") || name == QStringLiteral("radius") ||
             name == QStringLiteral("block")) {
    const auto size =
        positiveNumber(value,
                       name == QStringLiteral("ngram")    ? "--ngram takes a number of characters."
                       : name == QStringLiteral("radius") ? "--radius takes a number of edits."
                                                          : "--block takes a number of characters.",
                       error);
    if (!size) return false;
    (name == QStringLiteral("ngram")    ? options.ngram
     : name == QStringLiteral("radius") ? options.radius
                                        : options.block) = *size;
  } else if (name == QStringLiteral("sample")) {
    const auto rows = positiveNumber(value, "--sample takes a number of rows.", error);
    if (!rows) return false;
    options.sample = *rows;
  }
  return true;
}

bool isFileKey(const QString& key) {
  for (const char* name : FileKeys) {
    if (key == QLatin1String(name)) return true;
  }
  return false;
}

QString missingOption(const CleanOptions& options) {
  const bool everyRow = (options.scan && options.table.isEmpty()) || !options.recipe.isEmpty() ||
                        options.history || options.undo || options.listOperations;
  if (!options.where.isEmpty() && everyRow) {
    return QStringLiteral(
        "--where goes with one table: an operation, --values, --cluster or --scan with "
        "--table; a recipe and an undo take every row.");
  }
  if (options.listOperations || options.history || options.undo) return {};
  // PostgreSQL's libpq finds one of its own (PGDATABASE, or the user's name).
  const bool postgreSql = options.engine.compare(u"postgresql", Qt::CaseInsensitive) == 0;
  if (options.database.isEmpty() && !postgreSql) {
    return QStringLiteral("--database is required.");
  }
  if (options.scan) return {};
  const bool clusterSettings =
      options.ngram || options.radius || options.block || !options.mapOut.isEmpty();
  if (clusterSettings && options.cluster.isEmpty()) {
    return QStringLiteral("--ngram, --radius, --block and --map-out go with --cluster.");
  }
  if (!options.cluster.isEmpty()) {
    if (options.table.isEmpty() || options.field.isEmpty()) {
      return QStringLiteral("--cluster clusters the values of a --table and --field.");
    }
    return {};
  }
  if (options.values) {
    if (options.table.isEmpty() || options.field.isEmpty()) {
      return QStringLiteral("--values lists the values of a --table and --field.");
    }
    return {};
  }
  if (options.limit > 0) return QStringLiteral("--limit goes with --values.");
  if (options.json && !options.dryRun) return QStringLiteral("--json goes with --dry-run.");
  if (!options.applyChanges.isEmpty() && (options.dryRun || !options.recipe.isEmpty())) {
    return QStringLiteral("--apply-changes goes with one operation, without --dry-run.");
  }
  if (!options.recipe.isEmpty()) {
    if (!options.table.isEmpty() || !options.field.isEmpty() || !options.operation.isEmpty()) {
      return QStringLiteral("--recipe names its own tables, fields and operations.");
    }
    return {};
  }
  for (const auto& [value, name] :
       {std::pair{options.table, "--table"}, std::pair{options.field, "--field"},
        std::pair{options.operation, "--operation"}}) {
    if (value.isEmpty()) return QStringLiteral("%1 is required.").arg(QLatin1String(name));
  }
  return {};
}

// The settings of the option files as the arguments they stand for, as the standard clients
// print them; a password is not shown.
QString printedDefaults(const std::vector<OptionSetting>& settings) {
  QStringList arguments;
  for (const OptionSetting& setting : settings) {
    QString argument = QStringLiteral("--") + setting.key;
    if (setting.value) {
      argument += u'=' + (setting.key == QStringLiteral("password") ? QStringLiteral("*****")
                                                                    : *setting.value);
    }
    arguments << argument;
  }
  return QStringLiteral(
             "klarifeld-clean would have been started with the following "
             "arguments:\n") +
         arguments.join(u' ') + u'\n';
}

}  // namespace

CommandLine ParseCleanOptions(const QStringList& arguments) {
  CommandLine line;
  const std::optional<std::vector<GivenOption>> given = SplitArguments(arguments, line.error);
  if (!given) return line;
  OptionFileChoice files;
  bool printDefaults = false;
  for (const GivenOption& option : *given) {
    if (option.name == QStringLiteral("print-defaults")) printDefaults = true;
    if (option.name == QStringLiteral("help")) {
      line.output = helpText();
      return line;
    }
    if (option.name == QStringLiteral("version")) {
      line.output =
          QStringLiteral("klarifeld-clean %1\n").arg(QCoreApplication::applicationVersion());
      return line;
    }
    if (option.name == QStringLiteral("no-defaults")) files.none = true;
    if (option.name == QStringLiteral("defaults-file")) files.only = *option.value;
    if (option.name == QStringLiteral("defaults-extra-file")) files.extra = *option.value;
  }
  const std::vector<OptionSetting> settings = ReadOptionFiles(files, line.warnings, line.error);
  if (printDefaults && line.error.isEmpty()) {
    line.output = printedDefaults(settings);
    return line;
  }
  CleanOptions options;
  for (const OptionSetting& setting : settings) {
    if (!isFileKey(setting.key)) continue;
    if (!apply(options, {setting.key, setting.value}, line.error)) {
      line.error =
          QStringLiteral("%1 (in the option file '%2')").arg(line.error.chopped(1), setting.file) +
          u'.';
      return line;
    }
  }
  if (!line.error.isEmpty()) return line;
  for (const GivenOption& option : *given) {
    if (!apply(options, option, line.error)) return line;
    if (option.name == QStringLiteral("ssl-verify-server-cert")) {
      options.given << QStringLiteral("ssl-mode");
    } else if (isFileKey(option.name)) {
      options.given << option.name;
    }
  }
  line.error = missingOption(options);
  if (line.error.isEmpty()) line.options = std::move(options);
  return line;
}
