#include "MariaDbSession.h"

#include <sys/socket.h>

#include <QFile>

#include "DbError.h"
#include "LinkSecurity.h"
#include "MariaDbError.h"
#include "MariaDbGroupedWriter.h"
#include "MariaDbRowUpdater.h"
#include "MariaDbRows.h"
#include "SqlText.h"

namespace {

// Every session reads and writes in one known way, whatever the server's own defaults:
// - a value that does not fit its column is refused, not truncated or zeroed;
// - no mode changes what the statements mean (ANSI_QUOTES, NO_BACKSLASH_ESCAPES,
//   EMPTY_STRING_IS_NULL) or what a value reads as (PAD_CHAR_TO_FULL_LENGTH);
// - times are read in UTC, where no two instants read alike (local time repeats an hour
//   when the clocks go back), so that a row found by its values is the row read.
constexpr const char* SessionSettings =
    "SET SESSION sql_mode = 'STRICT_ALL_TABLES,NO_ENGINE_SUBSTITUTION', "
    "SESSION time_zone = '+00:00'";

unsigned portOf(const QString& port) {
  if (port.trimmed().isEmpty()) return 0;  // the client library's default
  bool isNumber = false;
  const unsigned number = port.toUInt(&isNumber);
  if (!isNumber || number > 65535) {
    throw DbError(QStringLiteral("Invalid port number '%1'").arg(port), 0, "HY024");
  }
  return number;
}

// The client library takes C strings: a NUL would silently cut the value short.
void refuseNul(const QString& value, const char* what) {
  if (value.contains(QChar(0))) {
    throw DbError(QStringLiteral("The %1 holds a character of code 0, which cannot be sent to the "
                                 "server. Remove it and try again.")
                      .arg(QLatin1String(what)));
  }
}

}  // namespace

void SetClientOption(MYSQL* mysql, enum mysql_option option, const void* value) {
  if (mysql_optionsv(mysql, option, value) != 0) {
    throw DbError(QStringLiteral("The client library refused a connection setting (option %1), "
                                 "so no connection was made.")
                      .arg(int(option)));
  }
}

std::shared_ptr<MariaDbSession> MariaDbSession::open(const ConnectionAttributes& attributes,
                                                     const SessionOptions& options) {
  if (attributes.driver.compare(SupportedDriver, Qt::CaseInsensitive) != 0) {
    throw DbError(DbMessages::NoDriver, 0, "IM002");
  }
  const unsigned port = portOf(attributes.port);
  refuseNul(attributes.server, "server name");
  if (const QString problem = ServerNameProblem(attributes.server); !problem.isEmpty()) {
    throw DbError(problem, 0, "HY000");
  }
  refuseNul(attributes.user, "user name");
  refuseNul(attributes.password, "password");
  refuseNul(attributes.database, "database name");
  refuseNul(attributes.socket, "socket file");
  const LinkSecurity security(attributes);
  // Once, before any thread opens a connection: sessions may be opened side by side.
  static const bool libraryReady = mysql_library_init(0, nullptr, nullptr) == 0;
  if (!libraryReady) throw DbError(QStringLiteral("The client library could not start."));
  MysqlHandle mysql(mysql_init(nullptr));
  if (!mysql) throw DbError(QStringLiteral("Out of memory"));
  security.applyTo(mysql.get());
  MYSQL* handle = mysql.get();
  // A server may ask for any file of the user's: none is ever sent.
  const unsigned noLocalFiles = 0;
  SetClientOption(handle, MYSQL_OPT_LOCAL_INFILE, &noLocalFiles);
  SetClientOption(handle, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  // One statement, one round trip: across a slow link each costs the time of a chunk of rows.
  QByteArray initCommand = SessionSettings;
  if (options.lockWaitSeconds > 0) {
    initCommand +=
        ", SESSION innodb_lock_wait_timeout = " + QByteArray::number(options.lockWaitSeconds);
  }
  SetClientOption(handle, MYSQL_INIT_COMMAND, initCommand.constData());
  if (options.connectTimeoutSeconds > 0) {
    SetClientOption(handle, MYSQL_OPT_CONNECT_TIMEOUT, &options.connectTimeoutSeconds);
  }
  if (options.commandTimeoutSeconds > 0) {
    SetClientOption(handle, MYSQL_OPT_READ_TIMEOUT, &options.commandTimeoutSeconds);
    SetClientOption(handle, MYSQL_OPT_WRITE_TIMEOUT, &options.commandTimeoutSeconds);
  }
  const QByteArray host = attributes.server.toUtf8();
  const QByteArray user = attributes.user.toUtf8();
  const QByteArray password = attributes.password.toUtf8();
  const QByteArray database = attributes.database.toUtf8();
  const QByteArray socket = QFile::encodeName(attributes.socket);
  // Found rows, not changed rows: an update that writes an equal value still found its row.
  if (!mysql_real_connect(mysql.get(), host.isEmpty() ? nullptr : host.constData(),
                          user.constData(), password.constData(),
                          database.isEmpty() ? nullptr : database.constData(), port,
                          socket.isEmpty() ? nullptr : socket.constData(), CLIENT_FOUND_ROWS)) {
    security.throwFailure(mysql.get());
  }
  security.checkConnected(mysql.get());
  return std::shared_ptr<MariaDbSession>(
      new MariaDbSession(std::move(mysql), security.encryption()));
}

MariaDbSession::~MariaDbSession() {
  if (isOpen()) close();
}

MYSQL* MariaDbSession::idle() {
  if (!isOpen()) throw DbError(DbMessages::ObjectClosed, 3704);
  if (streaming_) streaming_->bufferRest();
  abandoned_.reset();  // skips the rows still on the wire
  return mysql_.get();
}

void MariaDbSession::close() {
  if (streaming_ || abandoned_) cancelUnreadRows();
  mysql_.reset();
}

void MariaDbSession::cancelStatement(const ConnectionAttributes& attributes) const {
  constexpr unsigned QuickSeconds = 2;
  MYSQL* mysql = mysql_.get();
  if (!mysql) return;
  try {
    const std::shared_ptr<MariaDbSession> side = open(attributes, {QuickSeconds, QuickSeconds, 0});
    const QByteArray kill = "KILL QUERY " + QByteArray::number(qulonglong(mysql_thread_id(mysql)));
    if (mysql_real_query(side->mysql_.get(), kill.constData(), kill.size()) == 0) return;
  } catch (const DbError&) {
  }
  mariadb_cancel(mysql);
}

QString MariaDbSession::linkDescription() const {
  if (!isOpen()) throw DbError(DbMessages::ObjectClosed, 3704);
  return LinkSecurity::describe(mysql_.get(), encryption_);
}

void MariaDbSession::finished(StreamingResult* result) {
  if (streaming_ == result) streaming_ = nullptr;
}

void MariaDbSession::abandon(ResultHandle unreadRest) {
  abandoned_ = std::move(unreadRest);
}

// Shuts the connection down first, so that letting go of a result reads nothing more. The
// link is reset, not closed in order: the server, its buffers full of rows that are never
// read, would otherwise wait to send them, holding the table, until its write timeout.
void MariaDbSession::cancelUnreadRows() {
  const my_socket socket = mysql_get_socket(mysql_.get());
  if (socket >= 0) {
    const linger reset{.l_onoff = 1, .l_linger = 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  mariadb_cancel(mysql_.get());
  if (streaming_) streaming_->dropRest();
  streaming_ = nullptr;
  abandoned_.reset();
}

MariaDbSession& MariaDbSession::of(Session& session) {
  // A connection opens sessions of one engine, and only that engine's code asks.
  return static_cast<MariaDbSession&>(session);
}

QString MariaDbSession::clusterId() {
  MYSQL* mysql = idle();
  const char* sql =
      "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS "
      "WHERE VARIABLE_NAME = 'WSREP_CLUSTER_STATE_UUID'";
  if (mysql_query(mysql, sql)) throw MariaDbError(mysql);
  const ResultHandle result(mysql_store_result(mysql));
  if (!result) throw MariaDbError(mysql);
  const MYSQL_ROW row = mysql_fetch_row(result.get());
  return row && row[0] ? QString::fromUtf8(row[0]) : QString();
}

std::unique_ptr<RowSource> MariaDbSession::execute(QByteArrayView statement) {
  MYSQL* mysql = idle();
  if (mysql_real_query(mysql, statement.data(), statement.size())) throw MariaDbError(mysql);
  if (mysql_field_count(mysql) == 0) return nullptr;
  ResultHandle result(mysql_use_result(mysql));
  if (!result) throw MariaDbError(mysql);
  return std::make_unique<MariaDbRows>(shared_from_this(), std::move(result));
}

FieldCollection MariaDbSession::tableFields(const QString& database, const QString& table) {
  return execute("SELECT * FROM " + QuotedIdentifier(database.toUtf8()) + '.' +
                 QuotedIdentifier(table.toUtf8()) + " LIMIT 0")
      ->fields();
}

std::unique_ptr<RowUpdater> MariaDbSession::rowUpdater(const FieldCollection& fields,
                                                       const QByteArrayList* knownKey) {
  return std::make_unique<MariaDbRowUpdater>(*this, fields, knownKey);
}

std::unique_ptr<GroupedWriter> MariaDbSession::groupedWriter(const FieldCollection& fields,
                                                             RowUpdater& updater,
                                                             std::vector<int> written,
                                                             QString* whyNot) {
  return MariaDbGroupedWriter::For(*this, fields, static_cast<MariaDbRowUpdater&>(updater),
                                   std::move(written), whyNot);
}
