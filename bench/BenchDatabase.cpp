#include "BenchDatabase.h"

#include "TestServer.h"

void PrepareBenchTable(const QString& table, bool fresh) {
  ExecOnServer("CREATE DATABASE IF NOT EXISTS " + BenchDatabaseName);
  const Database db(BenchDatabaseName);
  const Column count =
      db.column("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = '" +
                BenchDatabaseName + "' AND TABLE_NAME = '" + table + "'");
  if (!fresh && count[0] == "1") return;
  db.exec(
      QStringLiteral("DROP TABLE IF EXISTS %1;"
                     "CREATE TABLE %1 (id INT PRIMARY KEY, v VARCHAR(40)) ENGINE=InnoDB;"
                     "INSERT INTO %1 SELECT seq, IF(MOD(seq, 2) = 0, CONCAT('value ', seq, ' x'), "
                     "CONCAT('value', seq, 'x')) FROM seq_1_to_%2")
          .arg(table)
          .arg(BenchRows));
}

QString BenchConnectionString() {
  return TestServer::get().connectionString(BenchDatabaseName);
}
