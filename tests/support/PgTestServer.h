#pragma once

#include <QString>

#include "TestServer.h"

// A private PostgreSQL server that the test fixture started: the one in the folder named by
// KLARIFELD_TEST_DB_DIR with "-postgres", which offers encryption, or with "-postgres-tls",
// which takes encrypted connections only and has `clearUser` log in by sending the
// password itself. Their certificates are for 127.0.0.1, signed by `caFile`.
struct PgServer {
  QString host, port, user, password, socketDir, caFile, clearUser;
};
const PgServer& PgTestServer(bool tlsOnly = false);

// A database on the private PostgreSQL server that the test fixture (or scripts/bench)
// started, in the folder named by KLARIFELD_TEST_DB_DIR with "-postgres". Its SQL runs
// through libpq directly, beside the layer under test.
class PgDatabase {
 public:
  // Through `port` when given (a proxy's).
  explicit PgDatabase(QString name, QString port = {})
      : name_(std::move(name)), port_(std::move(port)) {}

  const QString& name() const { return name_; }
  // The connection string that opens this database with PostgreSQL's engine.
  QString connectionString() const;
  void exec(const QString& sql) const;
  // The first column of every row, as text; NULL as nothing.
  Column column(const QString& sql) const;
  // Makes the database anew, empty.
  void create() const;
  void drop() const;

 private:
  QString name_, port_;
};

// A database of one test's own, named after the running test, created empty and dropped at
// the end.
class PgScratchDatabase : public PgDatabase {
 public:
  PgScratchDatabase();
  ~PgScratchDatabase();
  PgScratchDatabase(const PgScratchDatabase&) = delete;
  PgScratchDatabase& operator=(const PgScratchDatabase&) = delete;
};
