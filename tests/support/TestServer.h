#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

// The private server that the test fixture started, found through the folder that
// KLARIFELD_TEST_DB_DIR names (its connection.env).
struct TestServer {
  QString host, port, user, password, socket;

  static const TestServer& get();
  // The server that scripts/private-server started in `dir`.
  static TestServer in(const QString& dir);
  QString connectionString(const QString& database) const;
};

using Column = std::vector<std::optional<QByteArray>>;

// A database on the test server. Its SQL runs through the client library directly,
// beside the layer under test.
class Database {
 public:
  explicit Database(QString name) : name_(std::move(name)) {}

  const QString& name() const { return name_; }
  QString connectionString() const { return TestServer::get().connectionString(name_); }

  // One or more statements, in this database.
  void exec(const QString& sql) const;
  // The first column of every row of a query's result.
  Column column(const QString& sql) const;

 private:
  QString name_;
};

// A database of one test's own, created empty and dropped at the end.
class ScratchDatabase : public Database {
 public:
  // Named after the running test.
  ScratchDatabase();
  explicit ScratchDatabase(QString name);
  ~ScratchDatabase();
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;
};

// Statements on the server as the test user, outside any database.
void ExecOnServer(const QString& sql);
