#include "CleanCommand.h"

#include <mysqld_error.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <iostream>

#include "ChangePreview.h"
#include "Connection.h"
#include "ConnectionString.h"
#include "DatabaseScan.h"
#include "FieldUpdateRun.h"
#include "Journal.h"
#include "OperationCatalogue.h"
#include "ProfileKeys.h"
#include "RecipeRun.h"
#include "RecordSet.h"
#include "RewriteRun.h"
#include "RunJournal.h"
#include "SettingsStore.h"
#include "TableBrowser.h"
#include "Terminal.h"
#include "UndoRun.h"
#include "VisibleText.h"
#include "WorkerThread.h"

namespace {

void fail(const QString& line) {
  std::cerr << "klarifeld-clean: " << WithControlMarks(line).toStdString() << std::endl;
}

// Said once, by whichever command opens the journal first.
void tellDamage(const Journal& journal) {
  if (const QString damage = DamagedSpoolsText(journal); !damage.isEmpty()) fail(damage);
}

int listOperations() {
  for (const CleaningOperation& operation : Catalogue()) {
    std::cout << OperationShortName(operation).toStdString() << "\t"
              << operation.caption.toString().toStdString();
    for (const QString& question : OperationQuestions(operation.kind)) {
      std::cout << "\t\"" << question.toStdString() << '"';
    }
    std::cout << "\n";
  }
  return AllWritten;
}

// As the standard clients take it: given (on the command line, else in an option file),
// else MYSQL_PWD, else asked for on a terminal. "-p" alone asks even when one is known.
QString passwordFor(const CleanOptions& options) {
  const bool ask =
      options.askPassword || (!options.password && !qEnvironmentVariableIsSet("MYSQL_PWD"));
  if (ask) {
    if (!IsTerminal(STDIN_FILENO)) return {};
    return AskSecretly(QStringLiteral("Password for %1@%2: ").arg(options.user, options.host));
  }
  if (options.password) {
    if (options.given.contains(QStringLiteral("password"))) {
      fail(
          QStringLiteral("warning: a password on the command line can be read by other users "
                         "in the process list; use -p alone, MYSQL_PWD or an option file."));
    }
    return *options.password;
  }
  return qEnvironmentVariable("MYSQL_PWD");
}

// From the options, or as the login window last connected with --profile: then each
// connection setting comes from the command line, else from the stored settings (never
// from option files). Nothing, after saying why, for a stored encryption setting that is
// not known.
std::optional<QString> connectionStringFor(const CleanOptions& options) {
  if (!options.profile) {
    return BuildConnectionString(options.host, options.user, passwordFor(options), options.database,
                                 options.port,
                                 EncryptionNamed(options.sslMode).value_or(Encryption::Preferred),
                                 options.sslCa, options.socket);
  }
  const SettingsStore settings;
  const auto either = [&](const char* name, const QString& given, const QString& key,
                          const QString& absent) {
    return options.given.contains(QLatin1String(name)) ? given : settings.read(key, absent);
  };
  const QString mode = either("ssl-mode", options.sslMode, ProfileKeys::Encryption, {});
  const std::optional<Encryption> encryption =
      mode.isEmpty() ? Encryption::Preferred : EncryptionNamed(mode);
  if (!encryption) {
    fail(QStringLiteral("The stored encryption setting \"%1\" is not one of PREFERRED, "
                        "REQUIRED, VERIFY_CA, VERIFY_IDENTITY; give --ssl-mode.")
             .arg(mode));
    return std::nullopt;
  }
  return BuildConnectionString(
      either("host", options.host, ProfileKeys::Server, QStringLiteral("localhost")),
      either("user", options.user, ProfileKeys::User, {}),
      options.given.contains(QStringLiteral("password")) ? passwordFor(options)
                                                         : settings.read(ProfileKeys::Password, {}),
      either("database", options.database, ProfileKeys::Database, {}),
      either("port", options.port, ProfileKeys::Port, QStringLiteral("3306")), *encryption,
      either("ssl-ca", options.sslCa, ProfileKeys::CaFile, {}),
      // The login window keeps no socket: the server's default one, or the one given.
      options.given.contains(QStringLiteral("socket")) ? options.socket : QString());
}

// UTF-8 text as a JSON string, appended to `out`: escaped as QJsonDocument escapes it, and
// without building a document for each value.
void appendJsonString(QByteArray& out, QByteArrayView utf8) {
  static constexpr char Digits[] = "0123456789abcdef";
  out += '"';
  for (const char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (uchar(c) < 0x20) {
          out += "\\u00";
          out += Digits[uchar(c) >> 4];
          out += Digits[uchar(c) & 15];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

QString jsonString(const QString& text) {
  QByteArray out;
  appendJsonString(out, text.toUtf8());
  return QString::fromUtf8(out);
}

// One line per column, in the order and spacing that scripts are shown.
QString scanJson(const ColumnFindings& found) {
  QStringList counts, suggestions;
  for (DirtKind kind : DirtKinds) {
    const qint64 count = found.counts[size_t(kind)];
    counts << QStringLiteral("\"%1\": %2").arg(DirtKindName(kind)).arg(count);
    if (count == 0) continue;
    const CleaningSuggestion suggestion = SuggestionFor(kind);
    QStringList answers;
    for (const QString& answer : suggestion.answers) answers << jsonString(answer);
    suggestions << QStringLiteral("\"%1\": {\"operation\": \"%2\", \"answers\": [%3]}")
                       .arg(DirtKindName(kind), suggestion.operation, answers.join(u", "));
  }
  return QStringLiteral(
             "{\"table\": %1, \"column\": %2, \"rows\": %3, \"nulls\": %4, "
             "\"counts\": {%5}, \"suggestions\": {%6}}")
      .arg(jsonString(found.table), jsonString(found.column))
      .arg(found.rows)
      .arg(found.nulls)
      .arg(counts.join(u", "), suggestions.join(u", "));
}

// The tables that the main window lists: the database's own, not its views, and none whose
// name begins with "sys".
QStringList scannedTables(Connection& connection, const CleanOptions& options) {
  QStringList tables;
  for (const QString& name : BaseTablesOf(connection)) {
    if (!options.table.isEmpty() ? name == options.table
                                 : !name.startsWith(QStringLiteral("sys"), Qt::CaseInsensitive)) {
      tables << name;
    }
  }
  return tables;
}

// Lines of cells in columns two spaces apart, the first line being the header.
void printAligned(const QList<QStringList>& lines) {
  std::vector<qsizetype> widths;
  for (const QStringList& line : lines) {
    widths.resize(std::max(widths.size(), size_t(line.size())), 0);
    for (qsizetype i = 0; i < line.size(); ++i)
      widths[size_t(i)] = std::max(widths[size_t(i)], line[i].size());
  }
  for (const QStringList& line : lines) {
    QString text;
    for (qsizetype i = 0; i < line.size(); ++i) {
      text += i + 1 < line.size() ? line[i].leftJustified(widths[size_t(i)] + 2) : line[i];
    }
    while (text.endsWith(u' ')) text.chop(1);
    std::cout << WithControlMarks(text).toStdString() << '\n';
  }
}

// Counts each kind of dirt in the text columns, on the server; an aligned table for people,
// one JSON object per column for scripts.
int scanDatabase(const CleanOptions& options) {
  const std::optional<QString> connectionString = connectionStringFor(options);
  if (!connectionString) return UsageError;
  Connection connection;
  std::vector<ColumnFindings> findings;
  try {
    connection.CommandTimeout = 0;  // a big table takes its time; Ctrl+C ends it
    connection.Open(*connectionString);
    const QStringList tables = scannedTables(connection, options);
    if (tables.isEmpty() && !options.table.isEmpty()) {
      fail(QStringLiteral("No table '%1' in the database '%2' (a view is not scanned).")
               .arg(options.table, options.database));
      return UsageError;
    }
    if (tables.isEmpty()) {
      // Nothing is wrong with an empty database; JSON stays empty for the scripts that read it.
      const std::string said = QStringLiteral("The database '%1' has no tables to scan.")
                                   .arg(options.database)
                                   .toStdString();
      (options.json ? std::cerr : std::cout) << said << '\n';
      return AllWritten;
    }
    // On a worker, so that Ctrl+C can end the statement on the server.
    const InterruptWatch interrupt([&] { connection.Cancel(); });
    for (qsizetype done = 0; done < tables.size(); ++done) {
      try {
        RunWhileServingEvents([&] {
          for (ColumnFindings& found : ScanTable(connection, tables[done], options.sample)) {
            findings.push_back(found);
          }
        });
      } catch (const DbError&) {
        if (!interrupt.interrupted()) throw;
        fail(QStringLiteral("Stopped by Ctrl+C after %1 of %2 tables; nothing is printed.")
                 .arg(done)
                 .arg(tables.size()));
        return SomeReported;
      }
    }
  } catch (const DbError& failure) {
    fail(QStringLiteral("Could not scan: %1").arg(QString::fromUtf8(failure.what())));
    return ConnectionFailed;
  }
  if (options.json) {
    for (const ColumnFindings& found : findings) {
      QString line = scanJson(found);
      if (options.sample) line.insert(line.size() - 1, QStringLiteral(", \"sample\": true"));
      std::cout << line.toStdString() << '\n';
    }
    return AllWritten;
  }
  if (options.sample) {
    std::cout
        << "A sample: the first "
        << CountedText(options.sample, QStringLiteral("row"), QStringLiteral("rows")).toStdString()
        << " of each table.\n";
  }
  if (findings.empty()) {
    std::cout << "No text columns to scan.\n";
    return AllWritten;
  }
  QList<QStringList> lines{{"table", "column", "kind", "rows", "share", "operation"}};
  for (const ColumnFindings& found : findings) {
    for (DirtKind kind : DirtKinds) {
      const qint64 count = found.counts[size_t(kind)];
      if (count == 0) continue;
      const CleaningSuggestion suggestion = SuggestionFor(kind);
      QString operation = suggestion.operation;
      for (const QString& answer : suggestion.answers)
        operation += QStringLiteral(" --answer '%1'").arg(answer);
      lines << QStringList{
          found.table,
          found.column,
          DirtKindName(kind),
          CountText(count),
          QStringLiteral("%1 %").arg(
              100.0 * double(count) / double(std::max<qint64>(found.rows, 1)), 0, 'f', 1),
          operation};
    }
  }
  if (lines.size() == 1) {
    std::cout << "No dirt found in "
              << CountedText(qint64(findings.size()), QStringLiteral("text column"),
                             QStringLiteral("text columns"))
                     .toStdString()
              << ".\n";
    return AllWritten;
  }
  printAligned(lines);
  return AllWritten;
}

// An undo goes where its run went: the server, port and database that the journal recorded
// stand in for those not given.
CleanOptions recordedServer(const CleanOptions& options, const Journal& journal) {
  CleanOptions target = options;
  const std::optional<JournalRun> run = journal.run(options.undo);
  if (!run || options.profile) return target;
  if (!options.given.contains(QLatin1String("host"))) target.host = run->server;
  if (!options.given.contains(QLatin1String("port"))) target.port = run->port;
  if (!options.given.contains(QLatin1String("database"))) target.database = run->database;
  return target;
}

// One line per run, newest first, in aligned columns; with --json one object per run.
int listHistory(bool json) {
  const Journal journal(Journal::defaultPath());
  tellDamage(journal);
  QList<QStringList> lines{
      {"run", "started", "server", "field", "operation", "written", "ended", "undone"}};
  for (const JournalRun& run : journal.runs()) {
    const QString server = run.server + u':' + run.port;
    if (json) {
      const QJsonObject described{
          {QStringLiteral("run"), run.id},
          {QStringLiteral("started"), run.started.toString(Qt::ISODate)},
          {QStringLiteral("server"), server},
          {QStringLiteral("database"), run.database},
          {QStringLiteral("table"), run.table},
          {QStringLiteral("field"), run.field},
          {QStringLiteral("operation"), run.operation},
          {QStringLiteral("answers"), QJsonArray::fromStringList(run.answers)},
          {QStringLiteral("written"), run.written},
          {QStringLiteral("inDoubt"), run.inDoubt},
          {QStringLiteral("ended"), JournalEndText(run.end)},
          {QStringLiteral("undoes"), run.undoes},
          {QStringLiteral("undoneBy"), run.undoneBy}};
      std::cout << QJsonDocument(described).toJson(QJsonDocument::Compact).toStdString() << '\n';
      continue;
    }
    lines << QStringList{QString::number(run.id),
                         run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                         server,
                         JournalRunWhere(run),
                         JournalRunOperation(run),
                         JournalWrittenText(run),
                         JournalEndText(run.end),
                         JournalUndoneText(run)};
  }
  if (json) return AllWritten;
  if (lines.size() == 1) {
    std::cout << "The journal holds no runs yet.\n";
  } else {
    printAligned(lines);
  }
  return AllWritten;
}

// What is wrong with options that no server would take, before one is asked.
QString optionProblem(const CleanOptions& options) {
  bool number = false;
  const int port = options.port.toInt(&number);
  if (!options.port.isEmpty() && (!number || port < 1 || port > 65535)) {
    return QStringLiteral("--port is a number from 1 to 65535, not '%1'.").arg(options.port);
  }
  const std::optional<Encryption> mode = EncryptionNamed(options.sslMode);
  const bool checks = mode == Encryption::VerifyCa || mode == Encryption::VerifyIdentity;
  if (checks && options.sslCa.isEmpty()) {
    return QStringLiteral(
               "--ssl-mode=%1 checks the server's certificate: give the CA file "
               "that signed it with --ssl-ca.")
        .arg(options.sslMode);
  }
  return {};
}

// The field as the table spells it: column names are the same in any case, as the server
// takes them. Empty when there is none.
QString fieldNamed(const QStringList& fields, const QString& name) {
  if (fields.contains(name)) return name;
  for (const QString& field : fields) {
    if (field.compare(name, Qt::CaseInsensitive) == 0) return field;
  }
  return {};
}

// The table's fields in their order, or a message when the table is not there.
std::optional<QStringList> fieldsOf(Connection& connection, const CleanOptions& options) {
  bool found = false;
  const auto tables = connection.Execute(QStringLiteral("SHOW TABLES"));
  for (; tables->isOpen() && !tables->Eof(); tables->MoveNext()) {
    if (tables->Value(0) == options.table) found = true;
  }
  if (!found) {
    fail(
        QStringLiteral("No table '%1' in the database '%2'.").arg(options.table, options.database));
    return std::nullopt;
  }
  const auto none =
      connection.Execute(SelectAllStatement(options.table) + QStringLiteral(" LIMIT 0"));
  QStringList fields;
  for (int i = 0; i < none->Fields().count(); ++i) fields << none->Fields().Name(i);
  return fields;
}

bool hasRecords(Connection& connection, const QString& table) {
  const auto one = connection.Execute(QStringLiteral("SELECT 1 FROM ") + QuotedName(table) +
                                      QStringLiteral(" LIMIT 1"));
  return one->isOpen() && !one->Eof();
}

// Where printed changes go: standard output, or a spool read out after the counts.
using Sink = std::function<void(QByteArrayView)>;

void toStandardOutput(QByteArrayView bytes) {
  std::cout.write(bytes.data(), bytes.size());
}

// Written out in one go: a million lines through a stream would cost more than the preview.
// Handed on a mebibyte at a time: the output of a big table need not be held whole. With
// `named`, each change says its table and field: one preview of several.
// Whether UTF-8 `text` holds a control character that a terminal would obey.
bool holdsControls(QByteArrayView text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const auto c = uchar(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < text.size() && uchar(text[i + 1]) <= 0x9F) return true;  // C1
  }
  return false;
}

void printEntries(const ChangePreview& preview, bool json, bool named, const Sink& sink) {
  constexpr qsizetype Full = qsizetype(1) << 20;
  QByteArray out;
  out.reserve(Full + 4096);
  const RunDescription& run = preview.description();
  for (qsizetype i = 0; i < preview.size(); ++i) {
    if (json) {
      // The keys in QJsonDocument's order, as scripts have them.
      const ChangePreview::Entry entry = preview.binary() ? preview.entry(i) : preview.keyOnly(i);
      out += "{\"after\":";
      appendJsonString(out, preview.binary() ? entry.after.toUtf8() : preview.afterBytes(i));
      out += ",\"before\":";
      appendJsonString(out, preview.binary() ? entry.before.toUtf8() : preview.beforeBytes(i));
      if (named) {
        out += ",\"field\":";
        appendJsonString(out, run.field.toUtf8());
      }
      out += ",\"key\":";
      appendJsonString(out, entry.key.toUtf8());
      if (named) {
        out += ",\"table\":";
        appendJsonString(out, run.table.toUtf8());
      }
      out += preview.tooLong(i) ? ",\"tooLong\":true}\n" : ",\"tooLong\":false}\n";
    } else {
      const std::optional<QByteArrayView> key = preview.singleKeyBytes(i);
      if (key && !holdsControls(*key)) {
        out += *key;
      } else {
        out += WithControlMarks(key ? QString::fromUtf8(*key) : preview.keyOnly(i).key).toUtf8();
      }
      out += ": ";
      if (preview.binary()) {
        const ChangePreview::Entry entry = preview.entry(i);
        out += WithVisibleMarks(entry.before).toUtf8() + " → " +
               WithVisibleMarks(entry.after).toUtf8();
      } else {
        AppendWithVisibleMarks(out, preview.beforeBytes(i));
        out += " → ";
        AppendWithVisibleMarks(out, preview.afterBytes(i));
      }
      out += preview.tooLong(i) ? "  (too long for the column)\n" : "\n";
    }
    if (out.size() >= Full) {
      sink(out);
      out.clear();
    }
  }
  sink(out);
}

void printCounts(const ChangePreview& preview, bool named) {
  const RunDescription& run = preview.description();
  const QString prefix = named ? run.table + u'.' + run.field + QStringLiteral(": ") : QString();
  std::cout << WithControlMarks(prefix + PreviewCountsText(preview)).toStdString() << '\n';
}

// A dry run printed as its changes are computed, so that its memory stays the same however
// many records change. JSON goes out at once; the text form's changes wait in a spool file
// (private to the user) until the counts that come first are known.
// How many changes a dry run holds before it prints them.
constexpr qsizetype PrintedBatch = 10000;

class StreamedChanges {
 public:
  // `named`: each change names its table and field, as one field of several; their changes
  // wait in spools too, so that each field's come together.
  StreamedChanges(bool json, bool named = false)
      : json_(json), named_(named), spooled_(!json || named) {
    failed_ = spooled_ && !spool_.open();
  }
  void drain(const ChangePreview& batch) {
    if (failed_) return;
    printEntries(
        batch, json_, named_, !spooled_ ? Sink(toStandardOutput) : [this](QByteArrayView bytes) {
          if (spool_.write(bytes.data(), bytes.size()) != bytes.size()) failed_ = true;
        });
  }
  // Once every change was drained: why they could not all be printed, or empty.
  QString finish(const ChangePreview& preview) {
    if (!json_) printCounts(preview, named_);
    if (spooled_) {
      if (failed_) {
        return QStringLiteral("The changes could not be kept for printing in %1: %2.")
            .arg(QDir::tempPath(), spool_.errorString());
      }
      spool_.seek(0);
      while (!spool_.atEnd()) toStandardOutput(spool_.read(qint64(1) << 20));
    }
    std::cout.flush();
    return {};
  }

 private:
  bool json_, named_, spooled_;
  QTemporaryFile spool_;
  bool failed_ = false;
};

// A dry run of previews made one after another (a recipe's fields, an undo's parts), each
// printed as it goes; with `named`, each change names its table and field.
class StreamedPreviews {
 public:
  StreamedPreviews(bool json, bool named) : json_(json), named_(named) {}
  PreviewSetup setUp() {
    return [this](ChangePreview& preview) {
      auto changes = std::make_unique<StreamedChanges>(json_, named_);
      preview.drainEvery(PrintedBatch,
                         [at = changes.get()](const ChangePreview& batch) { at->drain(batch); });
      printed_.push_back(std::move(changes));
    };
  }
  // Once the previews are filled: why their changes could not all be printed, or empty.
  QString finish(const ChangePreviews& previews) {
    for (std::size_t i = 0; i < printed_.size() && i < previews.size(); ++i) {
      if (QString failure = printed_[i]->finish(*previews[i]); !failure.isEmpty()) return failure;
    }
    return {};
  }

 private:
  bool json_, named_;
  std::vector<std::unique_ptr<StreamedChanges>> printed_;
};

bool anyFailing(const ChangePreviews& previews) {
  return std::any_of(previews.begin(), previews.end(),
                     [](const auto& preview) { return preview->counts.failing > 0; });
}

// A run that never reached its records: a refused, missing or empty answer, or a report.
int statusWithoutRecords(const TerminalDialogs& dialogs, const CleaningOperation& operation,
                         const QString& quietEnd) {
  if (const std::optional<QString> question = dialogs.missingAnswer()) {
    fail(QStringLiteral("The operation \"%1\" asks \"%2\"; give it with --answer.")
             .arg(OperationShortName(operation), *question));
    return UsageError;
  }
  // A script that passes an empty answer by mistake must not take "nothing" for success.
  if (!quietEnd.isEmpty()) {
    fail(quietEnd);
    return UsageError;
  }
  return dialogs.messagesShown() > 0 ? UsageError : AllWritten;
}

int statusOf(const RunSummary& summary) {
  if (summary.end == RunEnd::JournalFailed || !summary.journalClosed) return JournalFailed;
  if (summary.end == RunEnd::ConnectionLost) return ConnectionFailed;
  const bool allWritten = summary.end == RunEnd::Finished && summary.counts.reported == 0 &&
                          summary.counts.changedSince == 0 && summary.counts.gone == 0;
  return allWritten ? AllWritten : SomeReported;
}

// Says why the first connection failed; the exit status.
int failedToConnect(const DbError& failure, const CleanOptions& options) {
  // A name given wrong is the user's to mend, not the link's.
  if (failure.errorNumber() == ER_BAD_DB_ERROR && options.databaseFollowsPassword) {
    // Not echoed: it may be the password, meant for -p.
    fail(
        QStringLiteral("No database of the name given after -p on that server. A password "
                       "goes right after -p, without a space: -pPASSWORD."));
    return UsageError;
  }
  if (failure.errorNumber() == ER_BAD_DB_ERROR) {
    fail(QStringLiteral("No database '%1' on that server.").arg(options.database));
    return UsageError;
  }
  fail(QStringLiteral("Could not connect: %1").arg(QString::fromUtf8(failure.what())));
  return ConnectionFailed;
}

int undoRun(const CleanOptions& options) {
  TerminalDialogs dialogs({});
  TerminalProgress progress;
  Journal journal(Journal::defaultPath());
  tellDamage(journal);
  const std::optional<QString> connectionString =
      connectionStringFor(recordedServer(options, journal));
  if (!connectionString) return UsageError;
  UndoRun undo(journal, options.undo, *connectionString, dialogs, progress);
  if (options.dryRun) {
    // A recipe's undo names each change's table and field.
    StreamedPreviews printed(options.json, !journal.parts(options.undo).empty());
    const ChangePreviews changes = undo.preview(printed.setUp());
    if (changes.empty()) return UsageError;
    if (const QString failure = printed.finish(changes); !failure.isEmpty()) {
      fail(failure);
      return SomeReported;
    }
    return AllWritten;
  }
  undo.run();
  if (!progress.summary()) return dialogs.messagesShown() > 0 ? UsageError : AllWritten;
  return statusOf(*progress.summary());
}

void tellJournaled(std::optional<qint64> run, const std::optional<RunSummary>& summary) {
  if (run && summary && summary->counts.written + summary->counts.inDoubt > 0) {
    std::cerr << QStringLiteral("Run %1 journaled: klarifeld-clean --undo %1 takes it back.\n")
                     .arg(*run)
                     .toStdString();
  }
}

// A recipe is read and refused, or not, before anything is read from its tables.
int runRecipe(const CleanOptions& options) {
  QString problem;
  std::optional<Recipe> recipe = ReadRecipeFile(options.recipe, problem);
  if (!recipe) {
    fail(problem);
    return UsageError;
  }
  const std::optional<QString> connectionString = connectionStringFor(options);
  if (!connectionString) return UsageError;
  try {
    Connection connection;
    connection.Open(*connectionString);
    problem = CheckRecipeTargetsOn(*recipe, connection);
  } catch (const DbError& failure) {
    return failedToConnect(failure, options);
  }
  if (!problem.isEmpty()) {
    fail(problem);
    return UsageError;
  }
  TerminalDialogs dialogs({});
  if (options.dryRun) {
    // Each change is printed as it is computed, each field's into a spool of its own.
    StreamedPreviews printed(options.json, true);
    const std::unique_ptr<RecipePreview> preview =
        PreviewRecipe(*recipe, *connectionString, dialogs, printed.setUp());
    if (!preview) return UsageError;
    if (!options.json) {
      for (const QString& line : StepCountsTexts(*preview)) {
        std::cout << WithControlMarks(line).toStdString() << '\n';
      }
    }
    if (const QString failure = printed.finish(preview->fields); !failure.isEmpty()) {
      fail(failure);
      return SomeReported;
    }
    return anyFailing(preview->fields) ? SomeReported : AllWritten;
  }
  TerminalProgress progress;
  Journal journal(Journal::defaultPath());
  tellDamage(journal);
  RewriteRun rewrites(journal, *connectionString, dialogs, progress);
  const RecipeRan ran = RunRecipe(*recipe, rewrites, *connectionString, dialogs);
  if (!ran.counted) return UsageError;
  if (!ran.run) return ConnectionFailed;
  tellJournaled(ran.run, progress.summary());
  if (!progress.summary()) return UsageError;
  const int status = statusOf(*progress.summary());
  return status == AllWritten && anyFailing(ran.counted->fields) ? SomeReported : status;
}

}  // namespace

int RunCleanCommand(const CleanOptions& options) {
  if (options.listOperations) return listOperations();
  if (const QString problem = ServerNameProblem(options.host); !problem.isEmpty()) {
    fail(problem);
    return UsageError;
  }
  if (options.sslMode.size() && !EncryptionNamed(options.sslMode)) {
    fail(QStringLiteral("--ssl-mode is one of PREFERRED, REQUIRED, VERIFY_CA, VERIFY_IDENTITY."));
    return UsageError;
  }
  if (const QString problem = optionProblem(options); !problem.isEmpty()) {
    fail(problem);
    return UsageError;
  }
  try {
    if (options.history) return listHistory(options.json);
    if (options.scan) return scanDatabase(options);
    if (options.undo) return undoRun(options);
    if (!options.recipe.isEmpty()) return runRecipe(options);
  } catch (const JournalError& failure) {
    fail(QString::fromUtf8(failure.what()));
    return JournalFailed;
  }
  const CleaningOperation* operation = FindOperationByName(options.operation);
  if (!operation) {
    const QStringList near = NearestOperationNames(options.operation);
    fail(QStringLiteral("No operation '%1'%2; --list-operations lists them.")
             .arg(options.operation, near.isEmpty() ? QString()
                                                    : QStringLiteral(" (did you mean %1?)")
                                                          .arg(near.join(QStringLiteral(" or ")))));
    return UsageError;
  }
  const std::optional<QString> built = connectionStringFor(options);
  if (!built) return UsageError;
  const QString connectionString = *built;
  Connection connection;
  std::optional<QStringList> fields;
  QString field;  // the field's name as the table spells it
  try {
    connection.Open(connectionString);
    // Said where a person reads it: how far the link can be trusted.
    if (IsTerminal(STDERR_FILENO)) {
      std::cerr << "Link to the server: "
                << WithControlMarks(connection.linkDescription()).toStdString() << ".\n";
    }
    fields = fieldsOf(connection, options);
    if (!fields) return UsageError;
    field = fieldNamed(*fields, options.field);
    if (field.isEmpty()) {
      fail(QStringLiteral("No field '%1' in the table '%2'.").arg(options.field, options.table));
      return UsageError;
    }
    if (!hasRecords(connection, options.table)) {
      fail(QStringLiteral("The table '%1' has no records: there is nothing to clean.")
               .arg(options.table));
      return UsageError;
    }
  } catch (const DbError& failure) {
    return failedToConnect(failure, options);
  }
  connection.Close();

  TextList tables, fieldList, preview;
  tables.addItem(options.table);
  for (const QString& name : *fields) fieldList.addItem(name);
  fieldList.select(int(fields->indexOf(field)));
  TerminalDialogs dialogs(options.answers);
  if (options.allReports) dialogs.printEveryReport();
  HeldPointer pointer;
  TerminalProgress progress;
  QString quietEnd;
  try {
    Journal journal(Journal::defaultPath());
    tellDamage(journal);
    FieldUpdateRun run({tables, fieldList, preview}, operation->caption.toString(),
                       connectionString, pointer, dialogs, progress, journal);
    if (options.quietReports) run.reportIntoSummary();
    if (options.dryRun) {
      StreamedChanges printed(options.json);
      run.drainPreviewEvery(PrintedBatch,
                            [&](const ChangePreview& batch) { printed.drain(batch); });
      const std::unique_ptr<ChangePreview> changes = run.preview();
      if (!changes) return statusWithoutRecords(dialogs, *operation, run.quietEnd());
      if (const QString failure = printed.finish(*changes); !failure.isEmpty()) {
        fail(failure);
        return SomeReported;
      }
      return changes->counts.failing > 0 ? SomeReported : AllWritten;
    }
    run.run();
    if (run.journalRefused()) return JournalFailed;
    quietEnd = run.quietEnd();
    tellJournaled(run.journaledRun(), progress.summary());
  } catch (const JournalError& failure) {
    fail(QString::fromUtf8(failure.what()));
    return JournalFailed;
  }
  if (!progress.summary()) return statusWithoutRecords(dialogs, *operation, quietEnd);
  return statusOf(*progress.summary());
}
