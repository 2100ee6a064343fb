#include "PgSession.h"

#include <QFile>
#include <QHash>
#include <array>
#include <deque>

#include "FieldCollection.h"
#include "GroupedWriter.h"
#include "LinkRefusal.h"
#include "PgError.h"
#include "PgGroupedWriter.h"
#include "PgRowUpdater.h"
#include "PgRows.h"

namespace {

constexpr const char* ReadingStatement = "klarifeld_reading";
constexpr Oid ByteaType = 17;

// libpq's names for the encryption settings.
const char* sslModeOf(Encryption encryption) {
  switch (encryption) {
    case Encryption::Required:
      return "require";
    case Encryption::VerifyCa:
      return "verify-ca";
    case Encryption::VerifyIdentity:
      return "verify-full";
    default:
      return "prefer";
  }
}

// Every session reads and writes in one known way: times in UTC and ISO form, so that a row
// found by its values is the row read; and a statement or a lock wait ends in time.
QByteArray sessionOptions(const SessionOptions& options) {
  QByteArray set = "-c TimeZone=UTC -c DateStyle=ISO,YMD -c IntervalStyle=iso_8601";
  set += " -c statement_timeout=" +
         QByteArray::number(qulonglong(options.commandTimeoutSeconds) * 1000);
  if (options.lockWaitSeconds > 0) {
    set += " -c lock_timeout=" + QByteArray::number(qulonglong(options.lockWaitSeconds) * 1000);
  }
  return set;
}

// Asks the server to end the statement running on `connection`, over a connection of its
// own; safe from any thread.
void cancelStatementOn(PGconn* connection) {
  PGcancel* cancel = PQgetCancel(connection);
  if (!cancel) return;
  char error[256];
  PQcancel(cancel, error, sizeof error);
  PQfreeCancel(cancel);
}

// Whether libpq reaches the server through TCP: not through a socket's folder, nor with
// no host at all, which is the local socket (unless a variable or a service names one).
bool overTheNetwork(const QByteArray& host) {
  QByteArray reached = host;
  if (reached.isEmpty()) {
    if (qEnvironmentVariableIsSet("PGSERVICE")) return true;
    reached = qgetenv("PGHOST");
  }
  for (const QByteArray& each : reached.split(',')) {
    if (!each.isEmpty() && !each.startsWith('/') && !each.startsWith('@')) return true;
  }
  return false;
}

// What libpq's words about a failed login mean (it gives the failure no SQLSTATE).
DbError::Cause loginFailureCause(const QString& message) {
  const auto says = [&](const char* words) { return message.contains(QLatin1String(words)); };
  if (says("database \"") && says("\" does not exist")) return DbError::Cause::UnknownDatabase;
  if (says("password authentication failed") || says("no pg_hba.conf entry") || says("role \"") ||
      says("no password supplied")) {
    return DbError::Cause::AccessDenied;
  }
  if (says("could not translate host name")) return DbError::Cause::UnknownHost;
  if (says("Connection refused") || says("No such file or directory") || says("No route to host")) {
    return DbError::Cause::Unreachable;
  }
  if (says("SSL") || says("certificate")) return DbError::Cause::EncryptionSetup;
  if (says("timeout expired") || says("server closed the connection")) {
    return DbError::Cause::ConnectionLost;
  }
  return DbError::Cause::Other;
}

// A refused login in the server's words, with what they mean. libpq tells each attempt on
// a line of its own ("prefer" tries an encrypted link, then a plain one): the guard of the
// password refusing one attempt is the reason only when no attempt met another.
[[noreturn]] void throwLoginFailure(const QString& message) {
  QStringList reasons, guarded;
  for (const QString& line : message.split(u'\n', Qt::SkipEmptyParts)) {
    (line.contains(QStringLiteral("channel binding required")) ? guarded : reasons) << line;
  }
  if (reasons.isEmpty()) {
    const bool plain = message.contains(QStringLiteral("SSL not in use"));
    throw LinkRefusal(
        QStringLiteral("%1 Over the network, Klarifeld logs in to PostgreSQL only by SCRAM "
                       "bound to the encrypted connection, which shows the password to no "
                       "one, unless the server's certificate and host name are checked: %2, "
                       "or connect through the server's socket. (%3)")
            .arg(plain ? QStringLiteral("The server did not encrypt the connection.")
                       : QStringLiteral("The server asked for a login method that would let "
                                        "anyone who can pose as the server read the password "
                                        "or log in with what it saw."),
                 ChooseEncryption(Encryption::VerifyIdentity), message),
        0, "08001");
  }
  const QString reason = reasons.join(u'\n');
  const DbError::Cause cause = loginFailureCause(reason);
  throw DbError(reason, 0, cause == DbError::Cause::UnknownDatabase ? "3D000" : "08001", cause);
}

}  // namespace

std::shared_ptr<PgSession> PgSession::open(const ConnectionAttributes& attributes,
                                           const SessionOptions& options) {
  const Encryption encryption = EncryptionSetting(attributes);
  // The socket's folder stands in for the host, as libpq takes it.
  const QByteArray host = attributes.socket.isEmpty() ? attributes.server.toUtf8()
                                                      : QFile::encodeName(attributes.socket);
  const QByteArray port = attributes.port.trimmed().toUtf8();
  const QByteArray user = attributes.user.toUtf8(), password = attributes.password.toUtf8();
  const QByteArray database = attributes.database.toUtf8();
  const QByteArray caFile = QFile::encodeName(attributes.sslCa);
  const QByteArray timeout = QByteArray::number(options.connectTimeoutSeconds);
  const QByteArray set = sessionOptions(options);
  std::vector<const char*> keys, values;
  std::deque<QByteArray> kept;  // the values' bytes, alive until the connection is made
  const auto add = [&](const char* key, QByteArray value) {
    if (value.isEmpty()) return;  // libpq's default, or its environment's
    keys.push_back(key);
    values.push_back(kept.emplace_back(std::move(value)).constData());
  };
  add("host", host);
  add("port", port);
  add("user", user);
  add("password", password);
  add("dbname", database);
  // Unless one is chosen, libpq's own (PGSSLMODE, else "prefer").
  if (!attributes.sslMode.isEmpty()) add("sslmode", sslModeOf(encryption));
  add("sslrootcert", caFile);
  add("connect_timeout", options.connectTimeoutSeconds > 0 ? timeout : QByteArray());
  add("client_encoding", "UTF8");
  add("application_name", "klarifeld");
  add("options", set);
  // Over the network, a password goes only by SCRAM bound to the encrypted link, which
  // shows neither the password nor what would log in to a stranger posing as the server;
  // unless that server's certificate and host name are checked.
  if (encryption != Encryption::VerifyIdentity && overTheNetwork(host)) {
    add("channel_binding", "require");
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* connection = PQconnectdbParams(keys.data(), values.data(), 0);
  if (!connection) throw DbError(QStringLiteral("Out of memory"));
  if (PQstatus(connection) != CONNECTION_OK) {
    const QString message = QString::fromUtf8(PQerrorMessage(connection)).trimmed();
    PQfinish(connection);
    throwLoginFailure(message);
  }
  // The server's notices ("… does not exist, skipping") are no failures, and not printed.
  PQsetNoticeProcessor(
      connection, [](void*, const char*) {}, nullptr);
  return std::shared_ptr<PgSession>(new PgSession(connection, encryption));
}

PgSession::~PgSession() {
  if (isOpen()) close();
}

PgSession& PgSession::of(Session& session) {
  // A connection opens sessions of one engine, and only that engine's code asks.
  return static_cast<PgSession&>(session);
}

void PgSession::close() {
  if (streaming_ || abandoned_) {
    // Rows still on the wire are not read: the server is told to stop sending them.
    cancelStatementOn(connection_.get());
    if (streaming_) streaming_->dropRest();
  }
  streaming_ = nullptr;
  connection_.reset();
}

QString PgSession::linkDescription() const {
  if (!isOpen()) throw DbError(DbMessages::ObjectClosed, 3704);
  return LinkDescription(
      PQsslInUse(connection_.get()) ? PQsslAttribute(connection_.get(), "protocol") : nullptr,
      encryption_);
}

void PgSession::cancelStatement(const ConnectionAttributes&) const {
  if (isOpen()) cancelStatementOn(connection_.get());
}

PGconn* PgSession::idle() {
  if (!isOpen()) throw DbError(DbMessages::ObjectClosed, 3704);
  if (streaming_) streaming_->bufferRest();
  if (abandoned_) endAbandoned();
  return connection_.get();
}

void PgSession::finished(PgRows* rows) {
  if (streaming_ == rows) streaming_ = nullptr;
}

void PgSession::abandon(PgRows* rows) {
  if (streaming_ != rows) return;
  streaming_ = nullptr;
  abandoned_ = true;
}

// The rest of a reading let go is not read: the statement is cancelled, its results dropped.
void PgSession::endAbandoned() {
  abandoned_ = false;
  cancelStatementOn(connection_.get());
  while (PGresult* result = PQgetResult(connection_.get())) PQclear(result);
}

PgResult PgLastResult(PGconn* connection) {
  PgResult last;
  std::optional<DbError> failure;
  while (PGresult* result = PQgetResult(connection)) {
    const ExecStatusType status = PQresultStatus(result);
    if (!failure && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      failure = PgError(connection, result);
    }
    last.reset(result);
  }
  if (failure) throw *failure;
  if (!last) throw PgError(connection);
  return last;
}

QByteArray PgQuotedName(const QByteArray& name) {
  return '"' + QByteArray(name).replace('"', "\"\"") + '"';
}

QByteArray PgQuotedTable(const QByteArray& table) {
  const qsizetype dot = table.indexOf('.');
  if (dot < 0) return PgQuotedName(table);
  return PgQuotedName(table.left(dot)) + '.' + PgQuotedName(table.mid(dot + 1));
}

PgResult PgSession::run(const QByteArray& statement, const std::vector<PgParameter>& parameters,
                        bool bytesResult) {
  PGconn* connection = idle();
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (const PgParameter& parameter : parameters) {
    values.push_back(parameter.value ? parameter.value->constData() : nullptr);
    lengths.push_back(parameter.value ? int(parameter.value->size()) : 0);
    formats.push_back(parameter.bytes ? 1 : 0);
  }
  if (!PQsendQueryParams(connection, statement.constData(), int(parameters.size()), nullptr,
                         values.data(), lengths.data(), formats.data(), bytesResult ? 1 : 0)) {
    throw PgError(connection);
  }
  return PgLastResult(connection);
}

std::unique_ptr<RowSource> PgSession::execute(QByteArrayView statement) {
  PGconn* connection = idle();
  // Prepared first, so that its fields are known (and their tables found) before any row.
  if (prepared_) run(QByteArray("DEALLOCATE ") + ReadingStatement);
  prepared_ = false;
  if (!PQsendPrepare(connection, ReadingStatement, statement.toByteArray().constData(), 0,
                     nullptr)) {
    throw PgError(connection);
  }
  PgLastResult(connection);
  prepared_ = true;
  if (!PQsendDescribePrepared(connection, ReadingStatement)) throw PgError(connection);
  const PgResult description = PgLastResult(connection);
  if (PQnfields(description.get()) == 0) {
    if (!PQsendQueryPrepared(connection, ReadingStatement, 0, nullptr, nullptr, nullptr, 0)) {
      throw PgError(connection);
    }
    PgLastResult(connection);
    return nullptr;
  }
  FieldCollection fields = fieldsOf(description.get());
  if (!PQsendQueryPrepared(connection, ReadingStatement, 0, nullptr, nullptr, nullptr, 0) ||
      !PQsetSingleRowMode(connection)) {
    throw PgError(connection);
  }
  auto rows = std::make_unique<PgRows>(shared_from_this(), std::move(fields));
  streaming_ = rows.get();
  return rows;
}

// The fields of a result, with the table, its schema and the column each comes from.
FieldCollection PgSession::fieldsOf(const PGresult* description) {
  const int count = PQnfields(description);
  QByteArrayList tables;
  for (int i = 0; i < count; ++i) {
    if (PQftable(description, i) != InvalidOid) {
      tables << QByteArray::number(PQftable(description, i));
    }
  }
  QHash<QPair<Oid, int>, std::array<QByteArray, 3>> columns;  // schema, table, column
  if (!tables.isEmpty()) {
    const PgResult found = run(
        "SELECT c.oid, a.attnum, n.nspname, c.relname, a.attname FROM pg_class c "
        "JOIN pg_namespace n ON n.oid = c.relnamespace JOIN pg_attribute a ON a.attrelid = c.oid "
        "WHERE c.oid = ANY ($1::oid[]) AND a.attnum > 0",
        {{"{" + tables.join(',') + "}"}});
    for (int row = 0; row < PQntuples(found.get()); ++row) {
      const auto text = [&](int column) {
        return QByteArray(PQgetvalue(found.get(), row, column));
      };
      columns.insert({Oid(text(0).toUInt()), text(1).toInt()}, {text(2), text(3), text(4)});
    }
  }
  std::vector<FieldInfo> infos;
  for (int i = 0; i < count; ++i) {
    const auto place = columns.value({PQftable(description, i), PQftablecol(description, i)});
    const Oid type = PQftype(description, i);
    infos.push_back({QString::fromUtf8(PQfname(description, i)), place[2], place[1], place[0],
                     type == ByteaType, int(type), 0});
  }
  return FieldCollection(std::move(infos));
}

FieldCollection PgSession::tableFields(const QString&, const QString& table) {
  return execute("SELECT * FROM " + PgQuotedTable(table.toUtf8()) + " LIMIT 0")->fields();
}

std::unique_ptr<RowUpdater> PgSession::rowUpdater(const FieldCollection& fields,
                                                  const QByteArrayList* knownKey) {
  return std::make_unique<PgRowUpdater>(*this, fields, knownKey);
}

std::unique_ptr<GroupedWriter> PgSession::groupedWriter(const FieldCollection& fields,
                                                        RowUpdater& updater,
                                                        std::vector<int> written, QString* whyNot) {
  return PgGroupedWriter::For(*this, fields, static_cast<PgRowUpdater&>(updater),
                              std::move(written), whyNot);
}

ConnectionAttributes PostgreSqlUriAttributes(const QString& uri) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(uri.toUtf8().constData(), &error);
  if (!options) {
    const QString why =
        error ? QString::fromUtf8(error).trimmed() : QStringLiteral("out of memory");
    PQfreemem(error);
    throw DbError(QStringLiteral("The PostgreSQL URI cannot be read: %1").arg(why));
  }
  ConnectionAttributes attributes;
  attributes.engine = QStringLiteral("PostgreSQL");
  const std::pair<const char*, QString*> fields[] = {
      {"host", &attributes.server},     {"port", &attributes.port},
      {"user", &attributes.user},       {"password", &attributes.password},
      {"dbname", &attributes.database}, {"sslrootcert", &attributes.sslCa}};
  for (PQconninfoOption* option = options; option->keyword; ++option) {
    if (!option->val) continue;
    for (const auto& [keyword, field] : fields) {
      if (qstrcmp(option->keyword, keyword) == 0) *field = QString::fromUtf8(option->val);
    }
    if (qstrcmp(option->keyword, "sslmode") == 0) {
      const QByteArray mode = option->val;
      attributes.sslMode = mode == "verify-full" ? EncryptionName(Encryption::VerifyIdentity)
                           : mode == "verify-ca" ? EncryptionName(Encryption::VerifyCa)
                           : mode == "require"   ? EncryptionName(Encryption::Required)
                                                 : QString();
    }
  }
  PQconninfoFree(options);
  // A host that is a folder names the server's socket, as libpq reads it.
  if (attributes.server.startsWith(u'/')) std::swap(attributes.server, attributes.socket);
  return attributes;
}
