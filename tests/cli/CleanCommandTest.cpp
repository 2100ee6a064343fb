// klarifeld-clean end to end: the program itself, run as a user runs it, against the
// fixture's server.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "../support/QStringPrinting.h"
#include "Journal.h"
#include "TestServer.h"

namespace {

struct Outcome {
  int status = -1;
  QString out;
  QString err;
};

class CleanCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    db.exec(
        "CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(9));"
        "INSERT INTO t VALUES (1, 'a b'), (2, 'x\\ty\\r\\n'), (3, NULL), (4, 'ok'), "
        "(5, '1 2 3 4 5')");
  }
  // Runs the program with the fixture's connection and `arguments`; the password comes
  // from the environment.
  Outcome clean(const QStringList& arguments, const QString& password = {}) {
    const TestServer& server = TestServer::get();
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MYSQL_PWD", password.isEmpty() ? server.password : password);
    environment.insert("XDG_DATA_HOME", dataHome.path());
    program.setProcessEnvironment(environment);
    program.start(KLARIFELD_CLEAN_PATH,
                  QStringList{"--host", server.host, "--port", server.port, "--user", server.user,
                              "--database", db.name(), "--table", "t", "--field", "v"} +
                      arguments);
    program.closeWriteChannel();
    EXPECT_TRUE(program.waitForFinished(60000));
    return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
            QString::fromUtf8(program.readAllStandardError())};
  }
  Column values() const { return db.column("SELECT v FROM t ORDER BY id"); }

  ScratchDatabase db;
  QTemporaryDir dataHome;
};

std::optional<QByteArray> text(const char* value) {
  return QByteArray(value);
}

}  // namespace

TEST_F(CleanCommandTest, ADryRunShowsEveryChangeAndTheRunWritesExactlyThose) {
  const Outcome dry = clean({"--operation", "remove-all-spaces", "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err.toStdString();
  EXPECT_EQ(dry.out,
            "5 records read: 2 would change, 2 unchanged, 1 nulls (never written), 0 cannot be "
            "computed.\n1: a·b → ab\n5: 1·2·3·4·5 → 12345\n");
  const Outcome json = clean({"--operation", "Replace Tabs in Selected Field With...", "--answer",
                              "->", "--dry-run", "--json"});
  EXPECT_EQ(json.out,
            "{\"after\":\"x->y\\r\\n\",\"before\":\"x\\ty\\r\\n\",\"key\":\"2\","
            "\"tooLong\":false}\n");
  const Column before = values();
  ASSERT_EQ(before, values()) << "a dry run writes nothing";

  const Outcome run = clean({"--operation", "remove-all-spaces"});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.startsWith("Finished: 5 records read, 2 written")) << run.out.toStdString();
  EXPECT_EQ(values(),
            Column({text("ab"), text("x\ty\r\n"), std::nullopt, text("ok"), text("12345")}));
  qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
  EXPECT_EQ(Journal(Journal::defaultPath()).runs().at(0).written, 2)
      << "journaled as in the windows";
}

TEST_F(CleanCommandTest, ExitStatusesSayHowItWent) {
  EXPECT_EQ(clean({"--operation", "no-such-operation"}).status, 2);
  EXPECT_EQ(clean({"--operation", "remove-tabs", "--field", "w"}).err,
            "klarifeld-clean: No field 'w' in the table 't'.\n");
  const Outcome notANumber = clean({"--operation", "remove-first-x", "--answer", "two"});
  EXPECT_EQ(notANumber.status, 2);
  EXPECT_EQ(notANumber.err, "Must enter number\n");
  EXPECT_EQ(clean({"--operation", "replace-tabs"}).status, 2) << "no answer to give";
  EXPECT_EQ(clean({"--operation", "remove-tabs"}, "wrong").status, 3);
  // Too long for VARCHAR(9): reported by the server, the rest written.
  const Outcome reported = clean({"--operation", "replace-all-spaces", "--answer", "__"});
  EXPECT_EQ(reported.status, 1);
  EXPECT_TRUE(reported.err.contains("Data too long for column 'v'")) << reported.err.toStdString();
  EXPECT_EQ(values()[0], text("a__b"));
}

TEST_F(CleanCommandTest, ListsTheOperationsWithTheirShortNames) {
  const Outcome listed = clean({"--list-operations"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out.count('\n'), 27);
  for (const char* line : {"remove-all-spaces\tRemove All Spaces in Selected Field\n",
                           "replace-tabs\tReplace Tabs in Selected Field With...\n",
                           "remove-first-x\tRemove First x Character(s) in Selected Field\n"}) {
    EXPECT_TRUE(listed.out.contains(line)) << line;
  }
}
