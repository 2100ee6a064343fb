#include "PgTestServer.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <QFile>
#include <memory>
#include <stdexcept>

namespace {

PgServer readServer(const QString& suffix) {
  QFile file(qEnvironmentVariable("KLARIFELD_TEST_DB_DIR") + suffix +
             QStringLiteral("/connection.env"));
  if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("no PostgreSQL test server");
  PgServer made;
  for (const QByteArray& line : file.readAll().split('\n')) {
    const qsizetype equals = line.indexOf('=');
    const QByteArray key = line.left(equals);
    const QString value = QString::fromUtf8(line.mid(equals + 1));
    if (key == "KLARIFELD_PG_HOST") made.host = value;
    if (key == "KLARIFELD_PG_PORT") made.port = value;
    if (key == "KLARIFELD_PG_USER") made.user = value;
    if (key == "KLARIFELD_PG_PASSWORD") made.password = value;
    if (key == "KLARIFELD_PG_SOCKET_DIR") made.socketDir = value;
    if (key == "KLARIFELD_PG_CA") made.caFile = value;
    if (key == "KLARIFELD_PG_CLEAR_USER") made.clearUser = value;
  }
  return made;
}

const PgServer& server() {
  static const PgServer found = readServer(QStringLiteral("-postgres"));
  return found;
}

struct Closer {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};

std::unique_ptr<PGconn, Closer> connect(const QString& database, const QString& port) {
  const PgServer& s = server();
  const QByteArray info =
      QStringLiteral("host=%1 port=%2 user=%3 password=%4 dbname=%5")
          .arg(s.host, port.isEmpty() ? s.port : port, s.user, s.password, database)
          .toUtf8();
  std::unique_ptr<PGconn, Closer> connection(PQconnectdb(info.constData()));
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    throw std::runtime_error(std::string("test connection failed: ") +
                             PQerrorMessage(connection.get()));
  }
  PQsetNoticeProcessor(
      connection.get(), [](void*, const char*) {}, nullptr);
  return connection;
}

void run(const QString& database, const QString& sql, Column* column = nullptr,
         const QString& port = {}) {
  const auto connection = connect(database, port);
  PGresult* result = PQexec(connection.get(), sql.toUtf8().constData());
  const ExecStatusType status = PQresultStatus(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    const std::string message = PQresultErrorMessage(result);
    PQclear(result);
    throw std::runtime_error("test SQL failed: " + message + " in " + sql.toStdString());
  }
  for (int row = 0; column && row < PQntuples(result); ++row) {
    column->push_back(
        PQgetisnull(result, row, 0)
            ? std::nullopt
            : std::optional(QByteArray(PQgetvalue(result, row, 0), PQgetlength(result, row, 0))));
  }
  PQclear(result);
}

}  // namespace

const PgServer& PgTestServer(bool tlsOnly) {
  static const PgServer tls = readServer(QStringLiteral("-postgres-tls"));
  return tlsOnly ? tls : server();
}

namespace {

QString testDatabaseName() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  return QStringLiteral("%1_%2")
      .arg(QLatin1String(test->test_suite_name()), QLatin1String(test->name()))
      .left(63)
      .toLower();
}

}  // namespace

QString PgDatabase::connectionString() const {
  const PgServer& s = server();
  return QStringLiteral("ENGINE=PostgreSQL;SERVER=%1;PORT=%2;USER=%3;PASSWORD=%4;DATABASE=%5")
      .arg(s.host, port_.isEmpty() ? s.port : port_, s.user, s.password, name_);
}

void PgDatabase::exec(const QString& sql) const {
  run(name_, sql, nullptr, port_);
}

Column PgDatabase::column(const QString& sql) const {
  Column values;
  run(name_, sql, &values, port_);
  return values;
}

void PgDatabase::create() const {
  drop();
  run(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE \"%1\"").arg(name_));
}

void PgDatabase::drop() const {
  run(QStringLiteral("postgres"),
      QStringLiteral("DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)").arg(name_));
}

PgScratchDatabase::PgScratchDatabase() : PgDatabase(testDatabaseName()) {
  create();
}

PgScratchDatabase::~PgScratchDatabase() {
  try {
    drop();
  } catch (const std::exception&) {
    // Left for the next run, which drops it first.
  }
}
