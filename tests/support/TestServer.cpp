#include "TestServer.h"

#include <gtest/gtest.h>
#include <mysql.h>

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <memory>
#include <stdexcept>

#include "ConnectionString.h"

namespace {

QHash<QString, QString> readEnvFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw std::runtime_error("No test server: cannot read " + path.toStdString() +
                             " (run the tests through ctest, whose fixture starts it)");
  }
  QHash<QString, QString> values;
  for (const QByteArray& line : file.readAll().split('\n')) {
    const qsizetype equals = line.indexOf('=');
    if (equals > 0)
      values.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
  }
  return values;
}

struct Closer {
  void operator()(MYSQL* mysql) const { mysql_close(mysql); }
};

// A raw connection of the test user, for setting up and checking tables.
std::unique_ptr<MYSQL, Closer> connect(const QString& database) {
  const TestServer& server = TestServer::get();
  std::unique_ptr<MYSQL, Closer> mysql(mysql_init(nullptr));
  mysql_options(mysql.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
  const QByteArray host = server.host.toUtf8(), user = server.user.toUtf8(),
                   password = server.password.toUtf8(), db = database.toUtf8();
  if (!mysql_real_connect(mysql.get(), host, user, password,
                          db.isEmpty() ? nullptr : db.constData(), server.port.toUInt(), nullptr,
                          CLIENT_MULTI_STATEMENTS)) {
    throw std::runtime_error(std::string("test connection failed: ") + mysql_error(mysql.get()));
  }
  return mysql;
}

void run(MYSQL* mysql, const QString& sql, Column* firstColumn) {
  const QByteArray text = sql.toUtf8();
  if (mysql_real_query(mysql, text.constData(), text.size())) {
    throw std::runtime_error("test SQL failed: " + std::string(mysql_error(mysql)) + " in " +
                             text.toStdString());
  }
  do {
    if (MYSQL_RES* result = mysql_store_result(mysql)) {
      while (MYSQL_ROW row = mysql_fetch_row(result)) {
        if (firstColumn) {
          const unsigned long* lengths = mysql_fetch_lengths(result);
          firstColumn->push_back(row[0] ? std::optional(QByteArray(row[0], lengths[0]))
                                        : std::nullopt);
        }
      }
      mysql_free_result(result);
    } else if (mysql_errno(mysql)) {
      throw std::runtime_error("test SQL failed: " + std::string(mysql_error(mysql)));
    }
  } while (mysql_next_result(mysql) == 0);
  if (mysql_errno(mysql))
    throw std::runtime_error("test SQL failed: " + std::string(mysql_error(mysql)));
}

QString currentTestName() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  QString name = QStringLiteral("t_%1_%2").arg(test->test_suite_name(), test->name());
  name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]")), QStringLiteral("_"));
  return name.left(64);
}

}  // namespace

TestServer TestServer::in(const QString& dir) {
  const auto env = readEnvFile(dir + QStringLiteral("/connection.env"));
  return TestServer{env.value(QStringLiteral("KLARIFELD_DB_HOST")),
                    env.value(QStringLiteral("KLARIFELD_DB_PORT")),
                    env.value(QStringLiteral("KLARIFELD_DB_USER")),
                    env.value(QStringLiteral("KLARIFELD_DB_PASSWORD")),
                    env.value(QStringLiteral("KLARIFELD_DB_SOCKET"))};
}

const TestServer& TestServer::get() {
  static const TestServer server = in(qEnvironmentVariable("KLARIFELD_TEST_DB_DIR"));
  return server;
}

QString TestServer::connectionString(const QString& database) const {
  return BuildConnectionString(host, user, password, database, port);
}

ScratchDatabase::ScratchDatabase() : ScratchDatabase(currentTestName()) {}

ScratchDatabase::ScratchDatabase(QString name) : Database(std::move(name)) {
  ExecOnServer(
      QStringLiteral("DROP DATABASE IF EXISTS `%1`; CREATE DATABASE `%1`").arg(this->name()));
}

ScratchDatabase::~ScratchDatabase() {
  try {
    ExecOnServer(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(name()));
  } catch (...) {
  }
}

void Database::exec(const QString& sql) const {
  run(connect(name_).get(), sql, nullptr);
}

Column Database::column(const QString& sql) const {
  Column values;
  run(connect(name_).get(), sql, &values);
  return values;
}

void ExecOnServer(const QString& sql) {
  run(connect(QString()).get(), sql, nullptr);
}
