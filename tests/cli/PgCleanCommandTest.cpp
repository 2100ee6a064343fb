// klarifeld-clean on PostgreSQL, end to end: a run, its dry run, the journal and the undo,
// against the fixture's PostgreSQL server.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "../support/QStringPrinting.h"
#include "PgTestServer.h"

namespace {

struct Outcome {
  int status = -1;
  QString out;
  QString err;
};

class PgCleanCommandTest : public testing::Test {
 protected:
  Outcome clean(const QStringList& arguments) {
    const QString connection = db.connectionString();
    const auto attribute = [&](const QString& key) {
      const qsizetype at = connection.indexOf(key + u'=') + key.size() + 1;
      return connection.mid(at, connection.indexOf(u';', at) - at);
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_DATA_HOME", home.path());
    environment.insert("MYSQL_PWD", attribute("PASSWORD"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(
        KLARIFELD_CLEAN_PATH,
        QStringList{"--engine", "postgresql", "--host", attribute("SERVER"), "--port",
                    attribute("PORT"), "--user", attribute("USER"), "--database", db.name()} +
            arguments);
    program.closeWriteChannel();
    EXPECT_TRUE(program.waitForFinished(60000));
    return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
            QString::fromUtf8(program.readAllStandardError())};
  }
  static std::optional<QByteArray> text(const char* value) { return QByteArray(value); }

  PgScratchDatabase db;
  QTemporaryDir home;
};

}  // namespace

// Values apart only in case stay apart under a collation that calls them equal: each row is
// written where it still holds, byte for byte, what was read, and one undo puts all back.
TEST_F(PgCleanCommandTest, ARunItsDryRunAndItsUndo) {
  db.exec(
      "CREATE COLLATION ci (provider = icu, locale = 'und-u-ks-level2', deterministic = false);"
      "CREATE TABLE t (id int PRIMARY KEY, v text COLLATE ci, c char(6));"
      "INSERT INTO t VALUES (1, 'a b', 'x y'), (2, 'A B', NULL), (3, NULL, 'z'), (4, 'ok', 'o k')");
  const Column before = db.column("SELECT v FROM t ORDER BY id");
  const QStringList spaces{"--table", "t", "--field", "v", "--operation", "remove-all-spaces"};
  const Outcome dry = clean(spaces + QStringList{"--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err.toStdString();
  EXPECT_EQ(dry.out,
            "4 records read: 2 would change, 1 unchanged, 1 null (never written), 0 cannot be "
            "computed.\n1: a·b → ab\n2: A·B → AB\n");
  const Outcome run = clean(spaces);
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"),
            Column({text("ab"), text("AB"), std::nullopt, text("ok")}));

  // char(n) keeps its padding as read; a value changed since it was read is left.
  const Outcome padded =
      clean({"--table", "t", "--field", "c", "--operation", "remove-all-spaces"});
  EXPECT_EQ(padded.status, 0) << padded.err.toStdString();
  EXPECT_EQ(db.column("SELECT c FROM t ORDER BY id"),
            Column({text("xy    "), std::nullopt, text("z     "), text("ok    ")}));

  db.exec("UPDATE t SET v = 'aB' WHERE id = 1");  // equal to "AB" by the collation, not by bytes
  const Outcome undo = clean({"--undo", "1"});
  EXPECT_EQ(undo.status, 1) << "a value left is reported: " << undo.err.toStdString();
  EXPECT_TRUE(undo.out.contains("1 written")) << undo.out.toStdString();
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"),
            Column({text("aB"), before[1], std::nullopt, text("ok")}))
      << "row 1, changed since, is left";
}
