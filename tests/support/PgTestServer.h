#pragma once

#include <QString>

#include "TestServer.h"

// A database of one test's own on the private PostgreSQL server that the test fixture
// started (in the folder named by KLARIFELD_TEST_DB_DIR, with "-postgres"), created empty
// and dropped at the end. Its SQL runs through libpq directly, beside the layer under test.
class PgScratchDatabase {
 public:
  PgScratchDatabase();  // named after the running test
  ~PgScratchDatabase();
  PgScratchDatabase(const PgScratchDatabase&) = delete;
  PgScratchDatabase& operator=(const PgScratchDatabase&) = delete;

  const QString& name() const { return name_; }
  // The connection string that opens this database with PostgreSQL's engine.
  QString connectionString() const;
  void exec(const QString& sql) const;
  // The first column of every row, as text; NULL as nothing.
  Column column(const QString& sql) const;

 private:
  QString name_;
};
