// A run through one node of a three-node Galera cluster while another client writes some
// of the same rows through another node: on a cluster a conflicting write from another
// node aborts a whole chunk at its commit, and the chunk is tried again.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <atomic>
#include <map>
#include <thread>

#include "../support/QStringPrinting.h"
#include "Connection.h"
#include "DbError.h"
#include "RecordSet.h"
#include "TestServer.h"

namespace {

constexpr int Rows = 20000;
const QString ClusterDatabase = QStringLiteral("klarifeld_galera");

TestServer node(int number) {
  return TestServer::in(qEnvironmentVariable("KLARIFELD_GALERA_DIR") + "/node" +
                        QString::number(number));
}

std::unique_ptr<Connection> connectTo(int number, const QString& database = ClusterDatabase) {
  auto connection = std::make_unique<Connection>();
  connection->Open(node(number).connectionString(database));
  return connection;
}

QString firstValue(Connection& connection, const QString& sql) {
  const std::unique_ptr<RecordSet> rows = connection.Execute(sql);
  return rows->Value(0).value_or(QString());
}

// A row's value as the run leaves it: "value 12 x" without its spaces.
QString cleaned(int id) {
  return QStringLiteral("value%1x").arg(id);
}

// The cluster's database made anew, with a table t (id, v) filled by `insert`.
void createTable(const QString& insert) {
  const auto server = connectTo(1, QString());
  server->Execute("DROP DATABASE IF EXISTS " + ClusterDatabase);
  server->Execute("CREATE DATABASE " + ClusterDatabase);
  const auto setup = connectTo(1);
  setup->Execute("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(40))");
  setup->Execute(insert);
}

// Starts klarifeld-clean through node `number` on the cluster's database, with a journal
// in `dataHome`.
void startClean(QProcess& process, int number, const QString& dataHome,
                const QStringList& arguments) {
  const TestServer server = node(number);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("MYSQL_PWD", server.password);
  environment.insert("HOME", dataHome);
  environment.insert("XDG_DATA_HOME", dataHome);
  process.setProcessEnvironment(environment);
  process.start(KLARIFELD_CLEAN_PATH,
                QStringList{"--host", server.host, "--port", server.port, "--user", server.user,
                            "--database", ClusterDatabase} +
                    arguments);
}

}  // namespace

TEST(GaleraCluster, AGroupedRunKeepsWhatAnotherNodeCommittedAndTheNodesAgree) {
  createTable("INSERT INTO t SELECT seq, CONCAT('value ', seq, ' x') FROM seq_1_to_" +
              QString::number(Rows));
  const int conflictsBefore =
      firstValue(*connectTo(1),
                 "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS "
                 "WHERE VARIABLE_NAME = 'WSREP_LOCAL_CERT_FAILURES'")
          .toInt();

  // Node 2 has the rows before anyone writes them there.
  const auto writer = connectTo(2);
  writer->Execute("SET SESSION wsrep_sync_wait = 15");
  ASSERT_EQ(firstValue(*writer, "SELECT COUNT(*) FROM t").toInt(), Rows);
  writer->Execute("SET SESSION wsrep_sync_wait = 0");

  // The other client: single-row commits through node 2, of values the run leaves alone.
  std::atomic<bool> running = true;
  std::map<int, QString> committed;
  std::thread other([&] {
    for (int n = 0; running; ++n) {
      const int id = 1 + int(QRandomGenerator::global()->bounded(Rows));
      const QString value = QStringLiteral("other-%1-%2").arg(id).arg(n);
      try {
        writer->Execute(QStringLiteral("UPDATE t SET v = '%1' WHERE id = %2").arg(value).arg(id));
        committed[id] = value;
      } catch (const DbError&) {
        // Lost to the run's chunk on certification: not committed.
      }
    }
  });

  const QTemporaryDir dataHome;
  QProcess run;
  startClean(run, 1, dataHome.path(),
             {"--table", "t", "--field", "v", "--operation", "remove-all-spaces"});
  ASSERT_TRUE(run.waitForFinished(300000));
  running = false;
  other.join();
  const QString summary = QString::fromUtf8(run.readAllStandardOutput());
  const QString reports = QString::fromUtf8(run.readAllStandardError());
  EXPECT_LE(run.exitCode(), 1) << reports.toStdString();
  EXPECT_TRUE(summary.startsWith("Finished"))
      << summary.toStdString() << reports.left(2000).toStdString();
  ASSERT_FALSE(committed.empty());

  std::map<int, QString> rows;
  const auto reader = connectTo(1);
  reader->Execute("SET SESSION wsrep_sync_wait = 15");
  for (std::unique_ptr<RecordSet> all = reader->Execute("SELECT id, v FROM t"); !all->Eof();
       all->MoveNext()) {
    rows[all->Value(0)->toInt()] = *all->Value(1);
  }
  ASSERT_EQ(int(rows.size()), Rows);
  int kept = 0;
  for (const auto& [id, value] : rows) {
    const auto theirs = committed.find(id);
    if (theirs != committed.end()) {
      ++kept;
      EXPECT_EQ(value, theirs->second) << "row " << id;
    } else {
      EXPECT_EQ(value, cleaned(id)) << "row " << id;
    }
  }
  EXPECT_EQ(kept, int(committed.size()));

  QStringList checksums;
  for (int number : {1, 2, 3}) {
    const auto connection = connectTo(number);
    connection->Execute("SET SESSION wsrep_sync_wait = 15");
    checksums << firstValue(*connection,
                            "SELECT CONCAT(COUNT(*), ':', SUM(CRC32(CONCAT(id, ':', HEX(v))))) "
                            "FROM t");
  }
  EXPECT_EQ(checksums[1], checksums[0]);
  EXPECT_EQ(checksums[2], checksums[0]);
  const int conflicts = firstValue(*connectTo(1),
                                   "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS "
                                   "WHERE VARIABLE_NAME = 'WSREP_LOCAL_CERT_FAILURES'")
                            .toInt() -
                        conflictsBefore;
  RecordProperty("other_client_commits", int(committed.size()));
  RecordProperty("chunk_certification_failures", conflicts);
  connectTo(1, QString())->Execute("DROP DATABASE " + ClusterDatabase);
}

// A run made through one node is undone through another node of the same cluster.
TEST(GaleraCluster, ARunIsUndoneThroughAnotherNode) {
  createTable("INSERT INTO t VALUES (1, 'a b'), (2, 'c d')");
  const QTemporaryDir dataHome;
  const auto clean = [&](int number, const QStringList& arguments) {
    QProcess process;
    startClean(process, number, dataHome.path(), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
  };
  clean(1, {"--table", "t", "--field", "v", "--operation", "remove-all-spaces"});
  clean(2, {"--undo", "1"});
  const auto reader = connectTo(1);
  reader->Execute("SET SESSION wsrep_sync_wait = 15");
  EXPECT_EQ(firstValue(*reader, "SELECT GROUP_CONCAT(v ORDER BY id) FROM t"), "a b,c d");
  connectTo(1, QString())->Execute("DROP DATABASE " + ClusterDatabase);
}
