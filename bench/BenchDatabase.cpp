#include "BenchDatabase.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>

#include "TestServer.h"

void PrepareBenchTable(const QString& table, bool fresh, int rows) {
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
          .arg(rows));
}

QString BenchConnectionString() {
  TestServer server = TestServer::get();
  if (qEnvironmentVariableIsSet("KLARIFELD_BENCH_PORT")) {
    server.port = qEnvironmentVariable("KLARIFELD_BENCH_PORT");
  }
  return server.connectionString(BenchDatabaseName);
}

int BenchRoundTripMs() {
  return qEnvironmentVariableIntValue("KLARIFELD_BENCH_RTT_MS");
}

void SettleServer() {
  const Database server(BenchDatabaseName);
  ExecOnServer("SET GLOBAL innodb_max_dirty_pages_pct = 0");
  for (int waited = 0; waited < 600; ++waited) {
    const Column dirty = server.column(
        "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = "
        "'INNODB_BUFFER_POOL_PAGES_DIRTY'");
    if (dirty.empty() || dirty[0]->toLongLong() == 0) break;
    QThread::msleep(100);
  }
  ExecOnServer("SET GLOBAL innodb_max_dirty_pages_pct = DEFAULT");
}

double SecondsOf(const std::function<void()>& work) {
  QElapsedTimer timer;
  timer.start();
  work();
  return double(timer.nsecsElapsed()) / 1e9;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}
