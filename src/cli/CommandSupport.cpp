#include "CommandSupport.h"

#include <unistd.h>

#include <iostream>

#include "Connection.h"
#include "ConnectionString.h"
#include "DbError.h"
#include "Engine.h"
#include "Journal.h"
#include "NearestNames.h"
#include "ProfileKeys.h"
#include "RecordSet.h"
#include "RunJournal.h"
#include "RunProgress.h"
#include "SettingsStore.h"
#include "SqlText.h"
#include "StoredPassword.h"
#include "Terminal.h"
#include "VisibleText.h"

void Fail(const QString& line) {
  std::cerr << "klarifeld-clean: " << WithControlMarks(line).toStdString() << std::endl;
}

// Said once, by whichever command opens the journal first.
void TellDamage(const Journal& journal) {
  if (const QString damage = DamagedSpoolsText(journal); !damage.isEmpty()) Fail(damage);
}

namespace {

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
      Fail(
          QStringLiteral("warning: a password on the command line can be read by other users "
                         "in the process list; use -p alone, MYSQL_PWD or an option file."));
    }
    return *options.password;
  }
  return qEnvironmentVariable("MYSQL_PWD");
}

}  // namespace

// From the options, or as the login window last connected with --profile: then each
// connection setting comes from the command line, else from the stored settings (never
// from option files). Nothing, after saying why, for a stored encryption setting that is
// not known.
// The engine that the options name: "--engine", or a bare postgresql:// URI.
std::optional<QString> engineOf(const CleanOptions& options) {
  const QString engine = options.engine.toLower();
  if (engine == u"postgresql" || options.database.startsWith(u"postgresql://") ||
      options.database.startsWith(u"postgres://")) {
    return QStringLiteral("PostgreSQL");
  }
  if (!engine.isEmpty() && engine != u"mariadb" && engine != u"mysql") {
    Fail(QStringLiteral("--engine takes mariadb or postgresql."));
    return std::nullopt;
  }
  return QString();
}

// PostgreSQL's conventions: what the command line gives, and for the rest libpq's own
// (PGHOST, PGPORT, PGUSER, PGDATABASE, PGPASSWORD, PGSSLMODE, ~/.pgpass, PGSERVICE, or a
// URI as the database). The MySQL option files and MYSQL_PWD are not read for it.
std::optional<QString> postgreSqlConnectionString(const CleanOptions& options) {
  const auto given = [&](const char* name, const QString& value) {
    return options.given.contains(QLatin1String(name)) ? std::optional(value) : std::nullopt;
  };
  ConnectionAttributes login;
  const std::optional<QString> database = given("database", options.database);
  if (database &&
      (database->startsWith(u"postgresql://") || database->startsWith(u"postgres://"))) {
    try {
      login = PostgreSqlUriAttributes(*database);
    } catch (const DbError& failure) {
      Fail(QString::fromUtf8(failure.what()));
      return std::nullopt;
    }
  } else if (database) {
    login.database = *database;
  }
  // What the command line gives counts over the URI.
  const std::pair<const char*, QString*> overrides[] = {
      {"host", &login.server},      {"port", &login.port},    {"user", &login.user},
      {"ssl-mode", &login.sslMode}, {"ssl-ca", &login.sslCa}, {"socket", &login.socket}};
  const QString* values[] = {&options.host,    &options.port,  &options.user,
                             &options.sslMode, &options.sslCa, &options.socket};
  for (std::size_t i = 0; i < std::size(overrides); ++i) {
    if (given(overrides[i].first, *values[i])) *overrides[i].second = *values[i];
  }
  if (options.askPassword && IsTerminal(STDIN_FILENO)) {
    login.password = AskSecretly(QStringLiteral("Password: "));
  } else if (options.password && options.given.contains(QStringLiteral("password"))) {
    Fail(
        QStringLiteral("warning: a password on the command line can be read by other users in "
                       "the process list; use -p alone, PGPASSWORD or ~/.pgpass."));
    login.password = *options.password;
  }
  const std::optional<Encryption> encryption =
      login.sslMode.isEmpty() ? Encryption::Preferred : EncryptionNamed(login.sslMode);
  if (!encryption) {
    Fail(QStringLiteral("--ssl-mode takes PREFERRED, REQUIRED, VERIFY_CA or VERIFY_IDENTITY."));
    return std::nullopt;
  }
  return BuildConnectionString(login.server, login.user, login.password, login.database, login.port,
                               *encryption, login.sslCa, login.socket,
                               QStringLiteral("PostgreSQL"));
}

std::optional<QString> ConnectionStringFor(const CleanOptions& options) {
  const std::optional<QString> engine = engineOf(options);
  if (!engine) return std::nullopt;
  if (!options.profile) {
    if (!engine->isEmpty()) return postgreSqlConnectionString(options);
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
    Fail(QStringLiteral("The stored encryption setting \"%1\" is not one of PREFERRED, "
                        "REQUIRED, VERIFY_CA, VERIFY_IDENTITY; give --ssl-mode.")
             .arg(mode));
    return std::nullopt;
  }
  return BuildConnectionString(
      either("host", options.host, ProfileKeys::Server, QStringLiteral("localhost")),
      either("user", options.user, ProfileKeys::User, {}),
      options.given.contains(QStringLiteral("password")) ? passwordFor(options)
                                                         : StoredPassword(settings).read(),
      either("database", options.database, ProfileKeys::Database, {}),
      either("port", options.port, ProfileKeys::Port, QStringLiteral("3306")), *encryption,
      either("ssl-ca", options.sslCa, ProfileKeys::CaFile, {}),
      // The login window keeps no socket: the server's default one, or the one given.
      options.given.contains(QStringLiteral("socket")) ? options.socket : QString(),
      options.engine.isEmpty() ? settings.read(ProfileKeys::Engine, {}) : *engine);
}

std::optional<ChosenField> ChosenFieldOf(Connection& connection, const CleanOptions& options) {
  const QStringList tables = EngineOf(connection).tables(connection);
  if (!tables.contains(options.table)) {
    Fail(
        QStringLiteral("No table '%1' in the database '%2'%3.")
            .arg(options.table, options.database, DidYouMean(NearestNames(options.table, tables))));
    return std::nullopt;
  }
  ChosenField chosen;
  const FieldCollection fields = EngineOf(connection).fieldsOf(connection, options.table);
  for (int i = 0; i < fields.count(); ++i) chosen.fields << fields.Name(i);
  chosen.field = chosen.fields.contains(options.field) ? options.field : QString();
  for (const QString& field : chosen.fields) {
    if (chosen.field.isEmpty() && field.compare(options.field, Qt::CaseInsensitive) == 0) {
      chosen.field = field;
    }
  }
  if (chosen.field.isEmpty()) {
    Fail(QStringLiteral("No field '%1' in the table '%2'%3.")
             .arg(options.field, options.table,
                  DidYouMean(NearestNames(options.field, chosen.fields))));
    return std::nullopt;
  }
  return chosen;
}

// UTF-8 text as a JSON string, appended to `out`: escaped as QJsonDocument escapes it, and
// without building a document for each value.
void AppendJsonString(QByteArray& out, QByteArrayView utf8) {
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

// Lines of cells in columns two spaces apart, the first line being the header.
void PrintAligned(const QList<QStringList>& lines) {
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

int StatusOf(const RunSummary& summary) {
  if (summary.end == RunEnd::JournalFailed || !summary.journalClosed) return JournalFailed;
  if (summary.end == RunEnd::ConnectionLost) return ConnectionFailed;
  const bool allWritten = summary.end == RunEnd::Finished && summary.counts.reported == 0 &&
                          summary.counts.changedSince == 0 && summary.counts.gone == 0;
  return allWritten ? AllWritten : SomeReported;
}

// Says why the first connection failed; the exit status.
int FailedToConnect(const DbError& failure, const CleanOptions& options) {
  // A name given wrong is the user's to mend, not the link's.
  if (failure.cause() == DbError::Cause::UnknownDatabase && options.databaseFollowsPassword) {
    // Not echoed: it may be the password, meant for -p.
    Fail(
        QStringLiteral("No database of the name given after -p on that server. A password "
                       "goes right after -p, without a space: -pPASSWORD."));
    return UsageError;
  }
  if (failure.cause() == DbError::Cause::UnknownDatabase) {
    Fail(QStringLiteral("No database '%1' on that server.").arg(options.database));
    return UsageError;
  }
  Fail(QStringLiteral("Could not connect: %1").arg(QString::fromUtf8(failure.what())));
  return ConnectionFailed;
}

void TellJournaled(const std::optional<RunSummary>& summary) {
  if (summary && summary->undoable()) {
    std::cerr << QStringLiteral("Run %1 journaled: klarifeld-clean --undo %1 takes it back.\n")
                     .arg(summary->journalRun)
                     .toStdString();
  }
}
