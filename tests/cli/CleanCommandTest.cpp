// klarifeld-clean end to end: the program itself, run as a user runs it, against the
// fixture's server.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <QTemporaryDir>
#include <QThread>

#include "Connection.h"
#include "ProfileKeys.h"
#include "RecordSet.h"
#include "SettingsStore.h"

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
  // Starts the program with the fixture's connection and `arguments`; the password comes
  // from the environment unless `password` says where.
  void start(QProcess& program, const QStringList& arguments,
             const std::optional<QString>& password = {}) {
    const TestServer& server = TestServer::get();
    startBare(program,
              QStringList{"--host", server.host, "--port", server.port, "--user", server.user,
                          "--database", db.name(), "--table", "t", "--field", "v"} +
                  arguments,
              password ? std::nullopt : std::optional(server.password));
  }
  // Starts the program with `arguments` only, and MYSQL_PWD if given.
  void startBare(QProcess& program, const QStringList& arguments,
                 const std::optional<QString>& mysqlPwd) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("MYSQL_PWD");
    environment.insert("HOME", dataHome.path());  // no ~/.my.cnf of the machine's
    if (mysqlPwd) environment.insert("MYSQL_PWD", *mysqlPwd);
    environment.insert("XDG_DATA_HOME", dataHome.path());
    program.setProcessEnvironment(environment);
    program.start(KLARIFELD_CLEAN_PATH, arguments);
    program.closeWriteChannel();
  }
  Outcome finish(QProcess& program) {
    EXPECT_TRUE(program.waitForFinished(60000));
    return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
            QString::fromUtf8(program.readAllStandardError())};
  }
  Outcome clean(const QStringList& arguments, const std::optional<QString>& password = {}) {
    QProcess program;
    start(program, arguments, password);
    return finish(program);
  }
  Column values() const { return db.column("SELECT v FROM t ORDER BY id"); }
  // The program with the recipe `json`, from a file, in place of a table, field and operation.
  Outcome cleanWithRecipe(const QByteArray& json, const QStringList& arguments = {}) {
    QFile file(dataHome.filePath("recipe.json"));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(json);
    file.close();
    const TestServer& server = TestServer::get();
    QProcess program;
    startBare(program,
              QStringList{"--host", server.host, "--port", server.port, "--user", server.user,
                          "--database", db.name(), "--recipe", file.fileName()} +
                  arguments,
              server.password);
    return finish(program);
  }

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
            "5 records read: 2 would change, 2 unchanged, 1 null (never written), 0 cannot be "
            "computed.\n1: a·b → ab\n5: 1·2·3·4·5 → 12345\n");
  const Outcome json = clean({"--operation", "Replace Tabs in Selected Field With...", "--answer",
                              "->", "--dry-run", "--json"});
  EXPECT_EQ(json.out,
            "{\"after\":\"x->y\\r\\n\",\"before\":\"x\\ty\\r\\n\",\"key\":\"2\","
            "\"tooLong\":false}\n");
  // Escaped as Qt's own JSON writer escapes them.
  db.exec("UPDATE t SET v = CONCAT('\"\\\\', CHAR(1), '😀\t') WHERE id = 4");
  const Outcome escaped =
      clean({"--operation", "replace-tabs", "--answer", "/", "--dry-run", "--json"});
  const QJsonObject change{{"key", "4"},
                           {"before", QString("\"\\") + QChar(1) + "😀\t"},
                           {"after", QString("\"\\") + QChar(1) + "😀/"},
                           {"tooLong", false}};
  EXPECT_TRUE(escaped.out.endsWith(QJsonDocument(change).toJson(QJsonDocument::Compact) + "\n"))
      << escaped.out.toStdString();
  db.exec("UPDATE t SET v = 'ok' WHERE id = 4");
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

// A dry run's JSON, lines taken out, is written as it stands: the changes it keeps and no
// other, each checked against the row as the dry run read it.
TEST_F(CleanCommandTest, AnEditedDryRunIsAppliedAsItStands) {
  db.exec("INSERT INTO t VALUES (6, 'c d'), (7, 'e f')");
  const Outcome dry = clean({"--operation", "remove-all-spaces", "--dry-run", "--json"});
  QStringList lines = dry.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4) << dry.out.toStdString();  // rows 1, 5, 6 and 7
  lines.removeAt(2);                                    // row 6 stays as it is
  QFile file(dataHome.filePath("chosen.jsonl"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(lines.join('\n').toUtf8() + '\n');
  file.close();
  db.exec("UPDATE t SET v = 'e  f' WHERE id = 7");  // changed since: its line is stale

  const Outcome applied =
      clean({"--operation", "remove-all-spaces", "--apply-changes", file.fileName()});
  EXPECT_EQ(applied.status, 1) << applied.err.toStdString();
  EXPECT_TRUE(applied.err.startsWith(
      "klarifeld-clean: 1 of the file's 3 changes are no longer what the operation makes of the "
      "table (their rows changed since): they are left as they are.\n"))
      << applied.err.toStdString();
  EXPECT_EQ(values(), Column({text("ab"), text("x\ty\r\n"), std::nullopt, text("ok"), text("12345"),
                              text("c d"), text("e  f")}));
  qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
  EXPECT_EQ(Journal(Journal::defaultPath()).runs().at(0).written, 2);

  file.open(QIODevice::WriteOnly | QIODevice::Truncate);
  file.write("{\"key\": \"1\"}\n");
  file.close();
  const Outcome bad =
      clean({"--operation", "remove-all-spaces", "--apply-changes", file.fileName()});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(bad.err.contains("Line 1 of '" + file.fileName() + "' is not a change"))
      << bad.err.toStdString();
}

// Values apart only in case, accents or trailing spaces are listed apart, NULL apart from
// the empty text; most frequent first, ties by their bytes.
TEST_F(CleanCommandTest, ValuesAreCountedByTheirBytes) {
  db.exec(
      "CREATE TABLE c (id INT PRIMARY KEY, city VARCHAR(20), raw VARBINARY(4));"
      "INSERT INTO c VALUES (1, 'Köln', X'FF00'), (2, 'köln', X'FF00'), (3, 'Koln', 'ok'),"
      "(4, 'Köln ', NULL), (5, '', NULL), (6, NULL, NULL), (7, 'Köln', 'ok'), (8, '', 'ok')");
  const auto values = [&](const QStringList& more) {
    return clean(QStringList{"--table", "c", "--values"} + more);
  };
  const Outcome listed = values({"--field", "city"});
  EXPECT_EQ(listed.status, 0) << listed.err.toStdString();
  EXPECT_EQ(listed.out, "2\t\n2\tKöln\n1\tNULL\n1\tKoln\n1\tKöln·\n1\tköln\n");
  EXPECT_EQ(values({"--field", "city", "--json", "--limit", "2"}).out,
            "{\"value\":\"\",\"count\":2}\n{\"value\":\"Köln\",\"count\":2}\n");
  EXPECT_EQ(values({"--field", "raw", "--json"}).out,
            "{\"value\":null,\"count\":3}\n{\"value\":\"ok\",\"count\":3}\n"
            "{\"value\":{\"hex\":\"ff00\"},\"count\":2}\n");
  EXPECT_EQ(values({"--field", "raw"}).out, "3\tNULL\n3\tok\n2\t0xff00\n");
}

// map-values replaces whole values that equal an old text exactly, from --map or a recipe.
TEST_F(CleanCommandTest, MapValuesReplacesWholeValuesThatMatchExactly) {
  db.exec("INSERT INTO t VALUES (6, 'A b'), (7, 'a b ')");
  QFile map(dataHome.filePath("map.json"));
  ASSERT_TRUE(map.open(QIODevice::WriteOnly));
  map.write(R"([["a b", "AB"], ["ok", "OK"]])");
  map.close();
  const Outcome mapped = clean({"--operation", "map-values", "--map", map.fileName()});
  EXPECT_EQ(mapped.status, 0) << mapped.err.toStdString();
  EXPECT_EQ(values(), Column({text("AB"), text("x\ty\r\n"), std::nullopt, text("OK"),
                              text("1 2 3 4 5"), text("A b"), text("a b ")}));
  EXPECT_EQ(clean({"--operation", "remove-tabs", "--map", map.fileName()}).err,
            "klarifeld-clean: --map goes with --operation map-values.\n");
  EXPECT_EQ(clean({"--operation", "map-values", "--answer", R"([["a", "b"], ["a", "c"]])"}).err,
            "klarifeld-clean: The map gives \"a\" twice.\n");

  const Outcome recipe = cleanWithRecipe(
      R"({"klarifeld-recipe": 1, "steps": [{"table": "t", "field": "v", "operation": )"
      R"("map-values", "map": [["A b", "Ab"]]}]})");
  EXPECT_EQ(recipe.status, 0) << recipe.err.toStdString();
  EXPECT_EQ(values()[5], text("Ab"));
}

// --cluster prints the spellings of one thing, largest first, never NULL; its --map-out,
// given to map-values, merges exactly those values and leaves every other row as it was.
TEST_F(CleanCommandTest, ClustersAreListedAndTheirMapMergesOnlyTheirRows) {
  db.exec(
      "CREATE TABLE c (id INT PRIMARY KEY, city VARCHAR(20));"
      "INSERT INTO c VALUES (1, 'New York'), (2, 'new york'), (3, 'New York'), (4, NULL),"
      "(5, NULL), (6, 'Köln'), (7, 'Koln'), (8, 'Koln'), (9, 'Bonn'), (10, 'NEW YORK ')");
  const auto cluster = [&](const QStringList& more) {
    return clean(QStringList{"--table", "c", "--field", "city", "--cluster"} + more);
  };
  const Outcome listed = cluster({"fingerprint", "--json"});
  EXPECT_EQ(listed.status, 0) << listed.err.toStdString();
  EXPECT_EQ(listed.out,
            "{\"values\": [{\"value\": \"New York\", \"count\": 2}, {\"value\": \"NEW YORK \", "
            "\"count\": 1}, {\"value\": \"new york\", \"count\": 1}], \"suggested\": \"New York\", "
            "\"rows\": 4}\n"
            "{\"values\": [{\"value\": \"Koln\", \"count\": 2}, {\"value\": \"Köln\", \"count\": "
            "1}], \"suggested\": \"Koln\", \"rows\": 3}\n");
  EXPECT_EQ(cluster({"fingerprint", "--where", "id < 6"}).out,
            "Cluster 1: 3 rows in 2 values, suggested: New·York\n2\tNew·York\n1\tnew·york\n\n"
            "1 cluster.\n");
  EXPECT_EQ(cluster({"levenshtein", "--radius", "2", "--block", "2"}).out.count("Cluster "), 2);
  EXPECT_EQ(cluster({"fingerprint", "--radius", "1"}).status, 2);
  EXPECT_EQ(cluster({"soundex"}).err,
            "klarifeld-clean: --cluster takes fingerprint, ngram-fingerprint or levenshtein.\n");

  const QString map = dataHome.filePath("clusters.json");
  EXPECT_EQ(cluster({"fingerprint", "--where", "id < 6", "--map-out", map}).status, 0);
  QFile written(map);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), "[\n [\"new york\",\"New York\"]\n]\n");
  const Outcome merged =
      clean({"--table", "c", "--field", "city", "--operation", "map-values", "--map", map});
  EXPECT_EQ(merged.status, 0) << merged.err.toStdString();
  // Only row 2 changed; Köln and the other New York, not in the map, stay byte for byte.
  EXPECT_EQ(
      db.column("SELECT city FROM c ORDER BY id"),
      Column({text("New York"), text("New York"), text("New York"), std::nullopt, std::nullopt,
              text("Köln"), text("Koln"), text("Koln"), text("Bonn"), text("NEW YORK ")}));
}

// A row condition narrows a run, a dry run and the values to the rows it holds for; one that
// the server cannot use reads and writes nothing.
TEST_F(CleanCommandTest, AConditionNarrowsTheRowsAndABadOneWritesNothing) {
  const Outcome dry =
      clean({"--operation", "remove-all-spaces", "--where", "id >= 2", "--dry-run"});
  EXPECT_EQ(dry.out,
            "4 records read: 1 would change, 2 unchanged, 1 null (never written), 0 cannot be "
            "computed.\n5: 1·2·3·4·5 → 12345\n");
  const Column before = values();
  for (const char* bad : {"nope = 1", "id = 1; DROP TABLE t", "id = (1"}) {
    const Outcome refused = clean({"--operation", "remove-all-spaces", "--where", bad});
    EXPECT_EQ(refused.status, 2) << bad;
    EXPECT_TRUE(refused.err.startsWith("klarifeld-clean: The row condition "))
        << refused.err.toStdString();
    EXPECT_EQ(values(), before) << bad;
  }
  EXPECT_TRUE(clean({"--operation", "remove-all-spaces", "--where", "nope = 1"})
                  .err.contains("Unknown column 'nope'"));
  const Outcome run = clean({"--operation", "remove-all-spaces", "--where", "id < 5"});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_EQ(values(),
            Column({text("ab"), text("x\ty\r\n"), std::nullopt, text("ok"), text("1 2 3 4 5")}));
  qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
  EXPECT_EQ(Journal(Journal::defaultPath()).runs().at(0).rows, "id < 5");
  EXPECT_EQ(clean({"--values", "--where", "id > 3"}).out, "1\t1·2·3·4·5\n1\tok\n");
  // The fixture names --table: only its rows are scanned, the tab and line break of row 2.
  EXPECT_EQ(clean({"--scan", "--where", "id = 2", "--json"}).out.count("\"rows\": 1,"), 1)
      << clean({"--scan", "--where", "id = 2", "--json"}).out.toStdString();
  EXPECT_FALSE(clean({"--scan", "--where", "id > 2"}).out.contains("tabs"));
  EXPECT_EQ(clean({"--scan", "--where", "id > 3", "--table", ""}).status, 2)
      << "a database has no one condition";
}

// A recipe step with "where" cleans only its rows; the others of the table stay as they are.
TEST_F(CleanCommandTest, ARecipeStepCleansOnlyTheRowsOfItsCondition) {
  const Outcome ran = cleanWithRecipe(
      R"({"klarifeld-recipe": 1, "steps": [)"
      R"({"table": "t", "field": "v", "operation": "remove-all-spaces", "where": "id = 1"},)"
      R"({"table": "t", "field": "v", "operation": "upper-case", "where": "id >= 4"}]})");
  EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
  EXPECT_EQ(values(),
            Column({text("ab"), text("x\ty\r\n"), std::nullopt, text("OK"), text("1 2 3 4 5")}));
  const Outcome bad = cleanWithRecipe(
      R"({"klarifeld-recipe": 1, "steps": [)"
      R"({"table": "t", "field": "v", "operation": "upper-case", "where": "nope = 1"}]})");
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(bad.err.startsWith("klarifeld-clean: Step 1: The row condition cannot be used: "))
      << bad.err.toStdString();
  db.exec("CREATE TABLE k (v TEXT); INSERT INTO k VALUES ('a b')");
  const Outcome keyless = cleanWithRecipe(
      R"({"klarifeld-recipe": 1, "steps": [)"
      R"({"table": "k", "field": "v", "operation": "upper-case", "where": "v <> ''"}]})");
  EXPECT_NE(keyless.status, 0);
  EXPECT_TRUE(keyless.err.contains("needs a table with a primary or unique key"))
      << keyless.err.toStdString();
}

// The scan counts, on the server, each kind of dirt with the operation that cleans it.
TEST_F(CleanCommandTest, ScanCountsTheDirtOfEveryTextColumn) {
  const Outcome json = clean({"--scan", "--json"});
  EXPECT_EQ(json.status, 0) << json.err.toStdString();
  EXPECT_EQ(json.out,
            "{\"table\": \"t\", \"column\": \"v\", \"rows\": 5, \"nulls\": 1, \"counts\": "
            "{\"leading-spaces\": 0, \"trailing-spaces\": 0, \"double-spaces\": 0, \"tabs\": 1, "
            "\"line-breaks\": 1, \"no-break-spaces\": 0, \"other-spaces\": 0, \"zero-width\": 0, "
            "\"control-characters\": 0}, \"suggestions\": {\"tabs\": {\"operation\": "
            "\"replace-tabs\", \"answers\": [\" \"]}, \"line-breaks\": {\"operation\": "
            "\"remove-enters\", \"answers\": []}}}\n");
  const Outcome table = clean({"--scan"});
  EXPECT_EQ(table.out,
            "table  column  kind         rows  share   operation\n"
            "t      v       tabs         1     20.0 %  replace-tabs --answer ' '\n"
            "t      v       line-breaks  1     20.0 %  remove-enters\n");
  EXPECT_EQ(values()[0], text("a b")) << "a scan writes nothing";
  EXPECT_EQ(clean({"--scan", "--table", "nothing"}).status, 2);
  // A sample says so: the first row holds no dirt.
  EXPECT_EQ(clean({"--scan", "--sample", "1"}).out,
            "A sample: the first 1 row of each table.\nNo dirt found in 1 text column.\n");
  EXPECT_TRUE(clean({"--scan", "--json", "--sample", "2"}).out.endsWith(", \"sample\": true}\n"));

  // A database without tables is no mistake: a sentence, and the scan has done its work.
  const ScratchDatabase empty("t_scan_empty");
  const TestServer& server = TestServer::get();
  for (const bool json : {false, true}) {
    QProcess program;
    startBare(program,
              QStringList{"--host", server.host, "--port", server.port, "--user", server.user,
                          "--database", empty.name(), "--scan"} +
                  (json ? QStringList{"--json"} : QStringList{}),
              server.password);
    const Outcome outcome = finish(program);
    EXPECT_EQ(outcome.status, 0);
    const QString said = "The database 't_scan_empty' has no tables to scan.\n";
    EXPECT_EQ(json ? outcome.err : outcome.out, said);
    if (json) {
      EXPECT_EQ(outcome.out, "") << "nothing a JSON reader would trip on";
    }
  }
}

// Ctrl+C ends a scan's statement on the server too, rather than leaving it running there.
TEST_F(CleanCommandTest, InterruptEndsAScanOnTheServer) {
  db.exec(
      "CREATE TABLE big (id INT PRIMARY KEY, a TEXT, b TEXT);"
      "INSERT INTO big SELECT seq, REPEAT(' a\\tb ', 30), REPEAT('c d ', 40) "
      "FROM seq_1_to_300000");
  const QString scanning = "SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '" +
                           db.name() + "' AND INFO LIKE 'SELECT COUNT(*), COUNT(%'";
  QProcess program;
  start(program, {"--scan", "--table", "big"});
  bool seen = false;
  for (int tries = 0; tries < 500 && !seen; ++tries) {
    QThread::msleep(10);
    seen = !db.column(scanning).empty();
  }
  ASSERT_TRUE(seen) << "the scan never reached the server";
  ::kill(pid_t(program.processId()), SIGINT);
  const Outcome stopped = finish(program);
  EXPECT_EQ(stopped.status, 1);
  EXPECT_EQ(stopped.err,
            "klarifeld-clean: Stopped by Ctrl+C after 0 of 1 tables; nothing is printed.\n");
  // The server ends a killed statement at its next check, a moment later.
  bool ended = false;
  for (int tries = 0; tries < 50 && !ended; ++tries) {
    ended = db.column(scanning).empty();
    if (!ended) QThread::msleep(10);
  }
  EXPECT_TRUE(ended) << "the statement still runs on the server";
}

// A name given a little wrong is met halfway, or named with what was likely meant.
TEST_F(CleanCommandTest, MistypedNamesAreNamedOrFound) {
  const Outcome typo = clean({"--operation", "remove-tab"});
  EXPECT_EQ(typo.status, 2);
  EXPECT_EQ(typo.err,
            "klarifeld-clean: No operation 'remove-tab' (did you mean remove-tabs?); "
            "--list-operations lists them.\n");
  const Outcome noDatabase = clean({"--operation", "remove-tabs", "--database", "no_such_db"});
  EXPECT_EQ(noDatabase.status, 2);
  EXPECT_EQ(noDatabase.err, "klarifeld-clean: No database 'no_such_db' on that server.\n");
  EXPECT_EQ(
      clean({"--operation", "remove-tabs", "--table", "tt"}).err,
      "klarifeld-clean: No table 'tt' in the database '" + db.name() + "' (did you mean t?).\n");
  // Column names are the same in any case, as the server takes them.
  const Outcome anyCase = clean({"--operation", "remove-all-spaces", "--field", "V"});
  EXPECT_EQ(anyCase.status, 0) << anyCase.err.toStdString();
  EXPECT_EQ(values()[0], text("ab"));
  EXPECT_TRUE(anyCase.err.contains("Run 1 journaled: klarifeld-clean --undo 1 takes it back.\n"))
      << anyCase.err.toStdString();
}

TEST_F(CleanCommandTest, ExitStatusesSayHowItWent) {
  EXPECT_EQ(clean({"--operation", "no-such-operation"}).status, 2);
  EXPECT_EQ(clean({"--operation", "remove-tabs", "--field", "w"}).err,
            "klarifeld-clean: No field 'w' in the table 't' (did you mean v?).\n");
  const Outcome notANumber = clean({"--operation", "remove-first-x", "--answer", "two"});
  EXPECT_EQ(notANumber.status, 2);
  EXPECT_EQ(notANumber.err, "klarifeld-clean: Must enter number\n");
  const Outcome stray = clean({"--operation", "remove-tabs", "--answer", "2"});
  EXPECT_EQ(stray.status, 2) << "an answer no question takes is likely a mistake";
  EXPECT_EQ(stray.err,
            "klarifeld-clean: The operation \"remove-tabs\" asks no question, so --answer "
            "has nothing to answer.\n");
  // What no server would take is refused before one is asked.
  EXPECT_EQ(clean({"--operation", "remove-tabs", "--port", "33o6"}).err,
            "klarifeld-clean: --port is a number from 1 to 65535, not '33o6'.\n");
  EXPECT_EQ(clean({"--operation", "remove-tabs", "-P70000"}).status, 2);
  EXPECT_EQ(clean({"--operation", "remove-tabs", "--pasword=x"}).status, 2);
  const Outcome noAuthority = clean({"--operation", "remove-tabs", "--ssl-mode", "VERIFY_CA"});
  EXPECT_EQ(noAuthority.status, 2);
  EXPECT_EQ(noAuthority.err,
            "klarifeld-clean: --ssl-mode=VERIFY_CA checks the server's certificate: give the CA "
            "file that signed it with --ssl-ca.\n");
  // The refusal names the option as it was given, not the login window's setting.
  const Outcome plainLink = clean({"--operation", "remove-tabs", "--ssl-mode=required"});
  EXPECT_EQ(plainLink.status, 3);
  EXPECT_TRUE(plainLink.err.contains(
      "The server did not encrypt the connection, and --ssl-mode=REQUIRED is given. Ask the "
      "server's administrator to turn on TLS, or give --ssl-mode=PREFERRED."))
      << plainLink.err.toStdString();
  const Outcome emptyAnswer = clean({"--operation", "replace-tabs", "--answer", ""});
  EXPECT_EQ(emptyAnswer.status, 2) << "an empty answer changes nothing: no success";
  EXPECT_EQ(emptyAnswer.err, "klarifeld-clean: Nothing was changed: the answer was empty.\n");
  const Outcome badPattern =
      clean({"--operation", "replace-regex", "--answer", "a)", "--answer", ""});
  EXPECT_EQ(badPattern.status, 2);
  EXPECT_EQ(badPattern.err,
            "klarifeld-clean: Invalid regular expression at offset 1: unmatched closing "
            "parenthesis\n");
  const Outcome unanswered = clean({"--operation", "replace-tabs"});
  EXPECT_EQ(unanswered.status, 2) << "no answer to give";
  EXPECT_EQ(unanswered.err,
            "klarifeld-clean: The operation \"replace-tabs\" asks \"Replace With:\"; give it "
            "with --answer.\n");
  EXPECT_EQ(clean({"--operation", "remove-tabs", "--password=wrong"}, QString()).status, 3);
  EXPECT_EQ(clean({"--operation", "remove-tabs", "--host", "host=127.0.0.1;local-infile=1"}).status,
            2);
  // A journal that cannot be opened: nothing is written without it.
  QDir(dataHome.path() + "/Klarifeld").removeRecursively();
  QDir(dataHome.path()).mkpath("Klarifeld/journal.sqlite3");
  const Outcome noJournal = clean({"--operation", "remove-all-spaces"});
  EXPECT_EQ(noJournal.status, 4) << noJournal.err.toStdString();
  EXPECT_EQ(values()[0], text("a b"));
  QDir(dataHome.path() + "/Klarifeld").removeRecursively();
  // Too long for VARCHAR(9): reported by the server, the rest written.
  const Outcome reported = clean({"--operation", "replace-all-spaces", "--answer", "__"});
  EXPECT_EQ(reported.status, 1);
  EXPECT_TRUE(reported.err.contains("Data too long for column 'v'")) << reported.err.toStdString();
  EXPECT_EQ(values()[0], text("a__b"));
}

// Each report names its record; --quiet-reports gives them grouped in the summary instead.
TEST_F(CleanCommandTest, ReportsNameTheirRecordOrGoGroupedIntoTheSummary) {
  const Outcome told = clean({"--operation", "remove-first-x", "--answer", "40000"});
  EXPECT_EQ(told.status, 1);
  EXPECT_TRUE(told.err.contains("Overflow\nin Klarifeld2021/08/31.Form2.PushButton2_Click"))
      << told.err.toStdString();
  EXPECT_TRUE(told.err.contains("Record 2 (id = 2).")) << told.err.toStdString();

  const Outcome quiet =
      clean({"--operation", "remove-first-x", "--answer", "40000", "--quiet-reports"});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.err, "");
  EXPECT_TRUE(
      quiet.out.contains("\n5 × Overflow — Record 1 (id = 1). Record 2 (id = 2). "
                         "Record 3 (id = 3). …\n"))
      << quiet.out.toStdString();

  // Past the first ten, the rest are grouped, unless every one is asked for.
  db.exec("INSERT INTO t SELECT seq, 'x' FROM seq_6_to_15");
  const Outcome first = clean({"--operation", "remove-first-x", "--answer", "40000"});
  EXPECT_EQ(first.err.count("Overflow\nin"), 10) << first.err.toStdString();
  EXPECT_TRUE(first.err.contains("--all-reports prints each.")) << first.err.toStdString();
  EXPECT_TRUE(first.out.contains("\n5 × Overflow — Record 11 (id = 11)."))
      << first.out.toStdString();
  const Outcome all =
      clean({"--operation", "remove-first-x", "--answer", "40000", "--all-reports"});
  EXPECT_EQ(all.err.count("Overflow\nin"), 15) << all.err.toStdString();
}

// With --profile, the options given override the login window's stored ones, and a stored
// encryption setting that is not known is refused rather than weakened.
TEST_F(CleanCommandTest, AProfileTakesOptionsGivenAndRefusesAnUnknownEncryption) {
  const TestServer& server = TestServer::get();
  qputenv("XDG_CONFIG_HOME", (dataHome.path() + "/config").toUtf8());
  const SettingsStore settings;
  settings.write(ProfileKeys::Server, "db1.invalid");
  settings.write(ProfileKeys::Password, server.password);
  settings.write(ProfileKeys::Encryption, "VERIFY-IDENTITY");
  const Outcome refused = clean({"--profile", "--operation", "remove-all-spaces"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(refused.err.contains("The stored encryption setting \"VERIFY-IDENTITY\""))
      << refused.err.toStdString();
  const Outcome run =
      clean({"--profile", "--ssl-mode", "PREFERRED", "--operation", "remove-all-spaces"});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_EQ(values()[0], text("ab")) << "the --host given, not the stored db1.invalid";
  // Each setting by one rule: the socket given, the database stored, none from the files.
  settings.write(ProfileKeys::Server, "localhost");
  settings.write(ProfileKeys::User, server.user);
  settings.write(ProfileKeys::Encryption, "PREFERRED");
  settings.write(ProfileKeys::Database, db.name());
  QFile(dataHome.filePath(".my.cnf")).remove();
  QFile optionFile(dataHome.filePath(".my.cnf"));
  ASSERT_TRUE(optionFile.open(QIODevice::WriteOnly));
  optionFile.write("[client]\ndatabase = nowhere\n");
  optionFile.close();
  QProcess bySocket;
  startBare(bySocket,
            {"--profile", "-S", server.socket, "--table", "t", "--field", "v", "--operation",
             "replace-tabs", "--answer", "_"},
            std::nullopt);
  const Outcome socketRun = finish(bySocket);
  EXPECT_EQ(socketRun.status, 0) << socketRun.err.toStdString();
  EXPECT_EQ(values()[1], text("x_y\r\n"));
  qunsetenv("XDG_CONFIG_HOME");
}

// Others can read a process's arguments: a password given in them is blanked while it runs.
TEST_F(CleanCommandTest, APasswordInTheArgumentsIsBlankedWhileTheRunGoesOn) {
  const TestServer& server = TestServer::get();
  Connection locker;  // holds the first row, so that the run waits while it is looked at
  locker.Open(db.connectionString());
  locker.Execute("START TRANSACTION");
  locker.Execute("SELECT * FROM t WHERE id = 1 FOR UPDATE");
  QProcess program;
  start(program, {"--operation", "remove-all-spaces", "--password=" + server.password}, QString());
  QByteArray arguments;
  for (int waited = 0; waited < 40 && !arguments.contains("remove-all-spaces"); ++waited) {
    QThread::msleep(50);
    QFile cmdline(QString("/proc/%1/cmdline").arg(program.processId()));
    if (cmdline.open(QIODevice::ReadOnly)) arguments = cmdline.readAll();
  }
  EXPECT_TRUE(arguments.contains("--password=x")) << arguments.toStdString();
  EXPECT_FALSE(arguments.contains(server.password.toUtf8()));
  locker.Close();
  EXPECT_EQ(finish(program).status, 0);
}

// The link lost while a write waits: reported, and the exit status says so.
TEST_F(CleanCommandTest, ALostLinkEndsTheRunWithStatus3) {
  Connection locker;  // holds the first row, so that the run's write waits there
  locker.Open(db.connectionString());
  locker.Execute("START TRANSACTION");
  locker.Execute("SELECT * FROM t WHERE id = 1 FOR UPDATE");
  QProcess program;
  start(program, {"--operation", "remove-all-spaces"});
  Column waiting;
  for (int tries = 0; tries < 80 && waiting.empty(); ++tries) {
    QThread::msleep(50);
    waiting = db.column("SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '" + db.name() +
                        "' AND INFO LIKE 'UPDATE%'");
  }
  ASSERT_FALSE(waiting.empty()) << "the run never waited for the row";
  db.exec("KILL CONNECTION " + QString::fromUtf8(*waiting[0]));
  const Outcome lost = finish(program);
  EXPECT_EQ(lost.status, 3) << lost.err.toStdString();
  EXPECT_TRUE(lost.out.startsWith("The connection to the server was lost"))
      << lost.out.toStdString();
}

TEST_F(CleanCommandTest, ListsTheOperationsWithTheirShortNames) {
  const Outcome listed = clean({"--list-operations"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out.count('\n'), 35);
  // Each with its questions, in the order that --answer answers them.
  for (const char* line :
       {"remove-all-spaces\tRemove All Spaces in Selected Field\n",
        "replace-tabs\tReplace Tabs in Selected Field With...\t\"Replace With:\"\n",
        "replace-user-defined\tReplace User-Defined Character(s) in Selected Field With...\t"
        "\"Find What:\"\t\"Replace With:\"\n",
        "remove-first-x\tRemove First x Character(s) in Selected Field\t\"Enter Number:\"\n",
        "replace-regex\tReplace Text Matching a Regular Expression in Selected Field With...\t"
        "\"Regular Expression:\"\t\"Replace With:\"\n",
        "remove-invisible\tRemove Zero-Width and Control Characters in Selected Field\n"}) {
    EXPECT_TRUE(listed.out.contains(line)) << line;
  }
}

// As the standard clients: the command line over option files, option files over MYSQL_PWD.
TEST_F(CleanCommandTest, OptionFilesConnectBetweenTheCommandLineAndMysqlPwd) {
  const TestServer& server = TestServer::get();
  QFile file(dataHome.path() + "/.my.cnf");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(("[mysqld]\npassword=not-this\n[client]\nhost=" + server.host +
              "\nport=" + server.port + "\nuser=" + server.user + "\n# the fixture's\npassword=\"" +
              server.password + "\"\n[klarifeld-clean]\ndatabase=" + db.name() + "\n")
                 .toUtf8());
  file.close();
  const auto bare = [&](const QStringList& arguments) {
    QProcess program;
    startBare(program,
              QStringList{"--table", "t", "--field", "v", "--operation", "remove-tabs"} + arguments,
              QString("wrong"));
    return finish(program);
  };
  const Outcome fromFile = bare({});
  EXPECT_EQ(fromFile.status, 0) << fromFile.err.toStdString();
  EXPECT_EQ(values()[1], text("xy\r\n"));
  EXPECT_EQ(bare({"-pwrong"}).status, 3) << "the command line's password counts";
  const Outcome inArguments = bare({"--password=" + server.password});
  EXPECT_EQ(inArguments.status, 0);
  EXPECT_TRUE(
      inArguments.err.startsWith("klarifeld-clean: warning: a password on the command "
                                 "line can be read by other users"));
  EXPECT_EQ(bare({"--defaults-file=" + dataHome.path() + "/none.cnf"}).status, 2);
  // The server's own socket, as the clients take it: with the host localhost.
  const Outcome bySocket =
      bare({"-h", "localhost", "-S", server.socket, "--operation", "remove-enters"});
  EXPECT_EQ(bySocket.status, 0) << bySocket.err.toStdString();
  EXPECT_EQ(values()[1], text("xy  "));
}

TEST_F(CleanCommandTest, HistoryListsTheRunAndUndoTakesItBack) {
  const Column before = values();
  ASSERT_EQ(clean({"--operation", "remove-all-spaces"}).status, 0);
  const Outcome history = clean({"--history"});
  const QStringList lines = history.out.split('\n');
  ASSERT_GE(lines.size(), 2);
  EXPECT_TRUE(lines[0].startsWith("run  started           server")) << lines[0].toStdString();
  const QString server = TestServer::get().host + ":" + TestServer::get().port;
  EXPECT_TRUE(lines[1].startsWith("1    "));
  EXPECT_EQ(lines[1].indexOf(server), lines[0].indexOf("server")) << "aligned";
  EXPECT_TRUE(
      lines[1].endsWith(db.name() + ".t.v  Remove All Spaces in Selected Field  2        finished"))
      << lines[1].toStdString();
  const Outcome json = clean({"--history", "--json"});
  EXPECT_TRUE(json.out.startsWith("{\"answers\":[],\"database\":\"" + db.name() + "\","))
      << json.out.toStdString();
  EXPECT_TRUE(json.out.contains("\"run\":1,") && json.out.contains("\"written\":2"))
      << json.out.toStdString();
  const Column cleaned = values();
  const Outcome dry = clean({"--undo", "1", "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err.toStdString();
  EXPECT_EQ(dry.out,
            "2 records read: 2 would change, 0 unchanged, 0 nulls (never written), 0 cannot be "
            "computed.\n1: ab → a·b\n5: 12345 → 1·2·3·4·5\n");
  EXPECT_EQ(values(), cleaned) << "a dry run writes nothing";
  // Only the user: the server, port and database are the run's own, from the journal.
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("HOME", dataHome.path());
  environment.insert("MYSQL_PWD", TestServer::get().password);
  environment.insert("XDG_DATA_HOME", dataHome.path());
  program.setProcessEnvironment(environment);
  program.start(KLARIFELD_CLEAN_PATH, {"--user", TestServer::get().user, "--undo", "1"});
  const Outcome undo = finish(program);
  EXPECT_EQ(undo.status, 0) << undo.err.toStdString();
  EXPECT_EQ(values(), before);
  EXPECT_EQ(clean({"--undo", "1"}).err,
            "klarifeld-clean: This run was undone already, by run 2.\n");
  EXPECT_EQ(clean({"--undo", "99"}).err, "klarifeld-clean: No run 99 in the journal.\n");
}

// Ctrl+C stops after the current record, as "Stop" does; every written row's old value
// is in the journal.
TEST_F(CleanCommandTest, InterruptStopsAtARecordBoundaryWithTheJournalComplete) {
  // Enough rows that chunks of them take a while.
  db.exec("DELETE FROM t; INSERT INTO t SELECT seq, CONCAT('r ', seq) FROM seq_1_to_300000");
  QProcess program;
  start(program, {"--operation", "remove-all-spaces"});
  ASSERT_TRUE(program.waitForStarted());
  QElapsedTimer waited;
  waited.start();
  while (db.column("SELECT COUNT(*) FROM t WHERE v NOT LIKE '% %'")[0]->toInt() < 500) {
    ASSERT_LT(waited.elapsed(), 60000);
    QThread::msleep(10);
  }
  ::kill(pid_t(program.processId()), SIGINT);
  const Outcome stopped = finish(program);
  EXPECT_EQ(stopped.status, 1) << stopped.err.toStdString();
  EXPECT_TRUE(stopped.out.startsWith("Stopped by you after ")) << stopped.out.toStdString();
  const int changed = db.column("SELECT COUNT(*) FROM t WHERE v NOT LIKE '% %'")[0]->toInt();
  EXPECT_LT(changed, 300000);
  qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
  EXPECT_EQ(Journal(Journal::defaultPath()).runs().at(0).entries, changed);
}

namespace {

// Reads what the program writes to its terminal until `expected` shows, or it ends.
bool readUntil(int terminal, const QByteArray& expected, QByteArray& seen) {
  QElapsedTimer waited;
  waited.start();
  while (!seen.contains(expected) && waited.elapsed() < 30000) {
    pollfd ready{terminal, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    char buffer[512];
    const ssize_t got = ::read(terminal, buffer, sizeof buffer);
    if (got <= 0) return false;
    seen.append(buffer, got);
  }
  return seen.contains(expected);
}

// Starts the program on a terminal of its own, with `home` for its files and a wrong
// MYSQL_PWD; gives the child's pid, and its terminal in `terminal`.
pid_t startOnTerminal(const QList<QByteArray>& arguments, const QString& home, int& terminal) {
  const QByteArray program = KLARIFELD_CLEAN_PATH;
  const QByteArray folder = home.toUtf8();
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child != 0) return child;
  ::setenv("MYSQL_PWD", "wrong", 1);
  ::setenv("HOME", folder.constData(), 1);
  ::setenv("XDG_DATA_HOME", folder.constData(), 1);
  std::vector<char*> argv{const_cast<char*>(program.constData())};
  for (const QByteArray& argument : arguments) argv.push_back(const_cast<char*>(argument.data()));
  argv.push_back(nullptr);
  ::execv(program.constData(), argv.data());
  ::_exit(127);
}

}  // namespace

// On a terminal the password is asked without echo, and a missing answer is asked too.
TEST_F(CleanCommandTest, OnATerminalItAsksForThePasswordAndTheAnswers) {
  const TestServer& server = TestServer::get();
  // The standard clients' short options, as the README shows them; -p asks even when
  // MYSQL_PWD holds one.
  const QList<QByteArray> arguments = {"-h",
                                       server.host.toUtf8(),
                                       "-P" + server.port.toUtf8(),
                                       "-u",
                                       server.user.toUtf8(),
                                       "-p",  // alone it asks; the database follows
                                       db.name().toUtf8(),
                                       "--table",
                                       "t",
                                       "--field",
                                       "v",
                                       "--operation",
                                       "replace-tabs"};
  int terminal = -1;
  const pid_t child = startOnTerminal(arguments, dataHome.path(), terminal);
  ASSERT_GE(child, 0);
  QByteArray seen;
  ASSERT_TRUE(readUntil(terminal, "Password for", seen)) << seen.toStdString();
  const QByteArray password = server.password.toUtf8() + "\n";
  ASSERT_EQ(::write(terminal, password.constData(), size_t(password.size())), password.size());
  ASSERT_TRUE(readUntil(terminal, "Replace With:", seen)) << seen.toStdString();
  EXPECT_TRUE(seen.contains("Link to the server: ")) << "a person is told how the link stands";
  ASSERT_EQ(::write(terminal, "->\n", 3), 3);
  readUntil(terminal, "Finished", seen);
  int status = -1;
  ::waitpid(child, &status, 0);
  ::close(terminal);
  EXPECT_EQ(WEXITSTATUS(status), 0) << seen.toStdString();
  EXPECT_FALSE(seen.contains(server.password.toUtf8())) << "the password was echoed";
  EXPECT_EQ(values()[1], text("x->y\r\n"));
}

// Both programs answer --version and --help without a display.
TEST(CommandLines, AnswerVersionAndHelpWithoutADisplay) {
  for (const char* program : {KLARIFELD_PATH, KLARIFELD_CLEAN_PATH}) {
    for (const char* option : {"--version", "--help"}) {
      QProcess run;
      QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
      environment.remove("DISPLAY");
      environment.remove("WAYLAND_DISPLAY");
      environment.remove("QT_QPA_PLATFORM");
      run.setProcessEnvironment(environment);
      run.start(program, {option});
      ASSERT_TRUE(run.waitForFinished(10000));
      EXPECT_EQ(run.exitCode(), 0) << program << ' ' << option;
      EXPECT_FALSE(run.readAllStandardOutput().isEmpty()) << program << ' ' << option;
    }
  }
}

// A recipe: several steps on two tables, previewed, written and undone as one run; a recipe
// at fault is refused, its step named, before anything is read.
TEST_F(CleanCommandTest, ARecipeCleansSeveralFieldsAsOneRunUndoneWhole) {
  db.exec(
      "CREATE TABLE u (id INT PRIMARY KEY, note TEXT);"
      "INSERT INTO u VALUES (1, 'line\\r\\nbreak'), (2, 'plain'), (3, 'a\\nb')");
  const QByteArray recipe =
      R"({"klarifeld-recipe": 1, "steps": [
           {"table": "t", "field": "v", "operation": "replace-tabs", "answers": [" "]},
           {"table": "t", "field": "V", "operation": "remove-all-spaces", "answers": []},
           {"table": "u", "field": "note", "operation": "remove-enters"}]})";
  const Column before = values();
  const Column notesBefore = db.column("SELECT note FROM u ORDER BY id");

  for (const auto& [json, refusal] :
       {std::pair<QByteArray, QString>{R"({"klarifeld-recipe": 1, "steps": [)",
                                       "The recipe is not valid JSON"},
        {QByteArray(recipe).replace("\"note\"", "\"nope\""),
         "Step 3: No field 'nope' in the table 'u'.\n"},
        {QByteArray(recipe).replace("[\" \"]", "[]"),
         "Step 1: the operation \"replace-tabs\" asks \"Replace With:\"; give it in "
         "\"answers\".\n"},
        {QByteArray(recipe).replace("remove-enters", "remove-entres"),
         "Step 3: no operation 'remove-entres' (did you mean remove-enters?)"}}) {
    const Outcome refused = cleanWithRecipe(json, {});
    EXPECT_EQ(refused.status, 2) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.startsWith("klarifeld-clean: " + refusal)) << refused.err.toStdString();
  }

  const Outcome dry = cleanWithRecipe(recipe, {"--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err.toStdString();
  EXPECT_TRUE(
      dry.out.startsWith("Step 1, replace-tabs on t.v: 1 record changes.\n"
                         "Step 2, remove-all-spaces on t.v: 3 records change.\n"
                         "Step 3, remove-enters on u.note: 2 records change.\n"
                         "t.v: 5 records read: 3 would change, 1 unchanged, 1 null"))
      << dry.out.toStdString();
  EXPECT_TRUE(dry.out.contains("\n1: a·b → ab\n")) << dry.out.toStdString();
  const Outcome json = cleanWithRecipe(recipe, {"--dry-run", "--json"});
  EXPECT_TRUE(
      json.out.endsWith("{\"after\":\"a b\",\"before\":\"a\\nb\",\"field\":\"note\","
                        "\"key\":\"3\",\"table\":\"u\",\"tooLong\":false}\n"))
      << json.out.toStdString();
  EXPECT_EQ(values(), before) << "a dry run writes nothing";

  const Outcome run = cleanWithRecipe(recipe, {});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  // The steps on v one after the other: tabs to spaces, then no spaces.
  EXPECT_EQ(values(),
            Column({text("ab"), text("xy\r\n"), std::nullopt, text("ok"), text("12345")}));
  EXPECT_EQ(db.column("SELECT note FROM u ORDER BY id"),
            Column({text("line  break"), text("plain"), text("a b")}));
  EXPECT_TRUE(run.err.contains("Run 1 journaled: klarifeld-clean --undo 1"))
      << run.err.toStdString();
  // What each field's part wrote, in the summary.
  EXPECT_TRUE(
      run.out.contains("\nt.v (steps 1, 2): 3 written, 0 unchanged, 0 reported.\n"
                       "u.note (step 3): 2 written, 0 unchanged, 0 reported."))
      << run.out.toStdString();

  const Outcome history = clean({"--history"});
  const QStringList lines = history.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2) << "one run: " << history.out.toStdString();
  EXPECT_TRUE(lines[1].contains(db.name() + ": t.v, u.note  Recipe t.v, u.note: 3 steps  5"))
      << lines[1].toStdString();

  const Outcome undo = clean({"--undo", "1"});
  EXPECT_EQ(undo.status, 0) << undo.err.toStdString();
  EXPECT_EQ(values(), before);
  EXPECT_EQ(db.column("SELECT note FROM u ORDER BY id"), notesBefore);
  EXPECT_TRUE(clean({"--undo", "1"})
                  .err.startsWith("klarifeld-clean: This run was undone already, by run "));
  EXPECT_EQ(clean({"--undo", "2"}).err,
            "klarifeld-clean: This run is a part of run 1, and is undone with it.\n");
}

// A dry run prints its changes as they are computed, in batches, all of them and in order,
// the counts first.
TEST_F(CleanCommandTest, ADryRunOfManyChangesPrintsEachOnceInOrder) {
  db.exec("INSERT INTO t SELECT seq + 5, CONCAT('r ', seq) FROM seq_1_to_25000");
  const Outcome dry = clean({"--operation", "remove-all-spaces", "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err.toStdString();
  const QStringList lines = dry.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 1 + 25002);
  EXPECT_TRUE(lines[0].startsWith("25,005 records read: 25,002 would change"))
      << lines[0].toStdString();
  for (int i = 3; i < lines.size(); ++i) {
    const QString expected = QString("%1: r·%2 → r%2").arg(i + 3).arg(i + 3 - 5);
    if (lines[i] != expected) {
      ADD_FAILURE() << lines[i].toStdString() << " where " << expected.toStdString();
      break;
    }
  }
  const Outcome json = clean({"--operation", "remove-all-spaces", "--dry-run", "--json"});
  const QStringList objects = json.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(objects.size(), 25002);
  EXPECT_EQ(objects.last(),
            "{\"after\":\"r25000\",\"before\":\"r 25000\",\"key\":\"25005\","
            "\"tooLong\":false}");
  // A recipe's too.
  const Outcome recipe = cleanWithRecipe(R"({"klarifeld-recipe": 1, "steps": [
      {"table": "t", "field": "v", "operation": "remove-all-spaces"}]})",
                                         {"--dry-run", "--json"});
  const QStringList changes = recipe.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(changes.size(), 25002) << recipe.err.toStdString();
  EXPECT_EQ(changes.last(),
            "{\"after\":\"r25000\",\"before\":\"r 25000\",\"field\":\"v\","
            "\"key\":\"25005\",\"table\":\"t\",\"tooLong\":false}");
  // And an undo's.
  ASSERT_EQ(clean({"--operation", "remove-all-spaces"}).status, 0);
  const Outcome undo = clean({"--undo", "1", "--dry-run"});
  const QStringList restored = undo.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(restored.size(), 1 + 25002) << undo.err.toStdString();
  EXPECT_EQ(restored.last(), "25005: r25000 → r·25000");
}

// A recipe run without a preview writes each table as it reads it, a batch of changes at a
// time: across batches every row is written once, with both of its fields, and undone whole.
TEST_F(CleanCommandTest, ARecipeOfManyRowsIsWrittenAsItIsReadAndUndoneWhole) {
  db.exec(
      "CREATE TABLE big (id INT PRIMARY KEY, a TEXT, b VARCHAR(20)) SELECT seq AS id, "
      "CONCAT('a ', seq) AS a, IF(MOD(seq, 3) = 0, CONCAT('b\t', seq), 'b') AS b "
      "FROM seq_1_to_45000");
  const auto contents = [&] {
    return db.column("SELECT CONCAT(COUNT(*), ' ', SUM(CRC32(CONCAT(a, '|', b)))) FROM big");
  };
  const Column before = contents();
  const Outcome run = cleanWithRecipe(R"({"klarifeld-recipe": 1, "steps": [
      {"table": "big", "field": "a", "operation": "remove-all-spaces"},
      {"table": "big", "field": "b", "operation": "replace-tabs", "answers": ["_"]}]})");
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.startsWith("Finished: 60,000 records read, 60,000 written, 0 unchanged"))
      << run.out.toStdString();
  EXPECT_TRUE(
      run.out.contains("\nbig.a (step 1): 45,000 written, 0 unchanged, 0 reported.\n"
                       "big.b (step 2): 15,000 written, 0 unchanged, 0 reported."))
      << run.out.toStdString();
  EXPECT_EQ(db.column("SELECT COUNT(*) FROM big WHERE a = CONCAT('a', id) AND b = IF(MOD(id, 3) "
                      "= 0, CONCAT('b_', id), 'b')"),
            Column({text("45000")}));
  EXPECT_EQ(clean({"--undo", "1"}).status, 0);
  EXPECT_EQ(contents(), before);
}

// What the database holds reaches the terminal with its control characters marked, never
// obeyed; JSON keeps every byte.
TEST_F(CleanCommandTest, ControlCharactersFromTheDatabaseAreMarkedOnTheTerminal) {
  db.exec(
      "CREATE TABLE e (id VARCHAR(9) PRIMARY KEY, `c\x1b]0;x\x07` TEXT);"
      "INSERT INTO e VALUES (CONCAT('k', CHAR(27), '[K'), CONCAT(CHAR(27), '[2J a\r', CHAR(27), "
      "'[Kfake', CHAR(0xC2, 0x9B USING utf8mb4)))");
  const TestServer& server = TestServer::get();
  const QStringList login{"--host", server.host, "--port",     server.port,
                          "--user", server.user, "--database", db.name()};
  QProcess program;
  startBare(program,
            login + QStringList{"--table", "e", "--field", "c\x1b]0;x\x07", "--operation",
                                "remove-all-spaces", "--dry-run"},
            server.password);
  const Outcome dry = finish(program);
  EXPECT_EQ(dry.status, 0) << dry.err.toStdString();
  EXPECT_TRUE(dry.out.endsWith(u"k⌧[K: ⌧[2J·a↵⌧[Kfake⌧ → ⌧[2Ja↵⌧[Kfake⌧\n"_qs))
      << dry.out.toStdString();
  QProcess scan;
  startBare(scan, login + QStringList{"--scan", "--table", "e"}, server.password);
  const Outcome scanned = finish(scan);
  EXPECT_TRUE(scanned.out.contains(u"c⌧]0;x⌧"_qs)) << scanned.out.toStdString();
  QProcess missing;
  startBare(missing,
            login + QStringList{"--table", "e", "--field", "\x1b[2Jv", "--operation",
                                "remove-all-spaces"},
            server.password);
  const Outcome refused = finish(missing);
  EXPECT_TRUE(refused.err.contains(u"⌧[2Jv"_qs)) << refused.err.toStdString();
  for (const QString& printed : {dry.out, dry.err, scanned.out, scanned.err, refused.err}) {
    for (const QChar c : {QChar(0x1b), QChar(0x07), QChar(0x9b)}) {
      EXPECT_FALSE(printed.contains(c)) << printed.toStdString();
    }
  }
}

// A recipe killed mid-run counts what its parts wrote, and its undo puts every row back.
TEST_F(CleanCommandTest, ARecipeKilledMidRunIsCountedAndUndoneWhole) {
  db.exec(
      "CREATE TABLE big (id INT PRIMARY KEY, a VARCHAR(20), b VARCHAR(20)) SELECT seq AS id, "
      "CONCAT('a ', seq) AS a, CONCAT('b ', seq) AS b FROM seq_1_to_300000");
  const auto contents = [&] {
    return db.column("SELECT CONCAT(COUNT(*), ' ', SUM(CRC32(CONCAT(a, '|', b)))) FROM big");
  };
  const Column before = contents();
  QFile file(dataHome.filePath("recipe.json"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(R"({"klarifeld-recipe": 1, "steps": [
      {"table": "big", "field": "a", "operation": "remove-all-spaces"},
      {"table": "big", "field": "b", "operation": "remove-all-spaces"}]})");
  file.close();
  const TestServer& server = TestServer::get();
  QProcess program;
  startBare(program,
            {"--host", server.host, "--port", server.port, "--user", server.user, "--database",
             db.name(), "--recipe", file.fileName()},
            server.password);
  QElapsedTimer waited;
  waited.start();
  while (db.column("SELECT COUNT(*) FROM big WHERE a NOT LIKE '% %'")[0]->toInt() < 2000) {
    ASSERT_LT(waited.elapsed(), 60000);
    QThread::msleep(10);
  }
  ::kill(pid_t(program.processId()), SIGKILL);
  program.waitForFinished();
  const int changed = db.column("SELECT COUNT(*) FROM big WHERE a NOT LIKE '% %'")[0]->toInt();
  ASSERT_LT(changed, 300000) << "the recipe finished before it was killed";

  const Outcome history = clean({"--history"});
  EXPECT_TRUE(history.out.contains("cut short")) << history.out.toStdString();
  qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
  const JournalRun killed = Journal(Journal::defaultPath()).runs().at(0);
  EXPECT_GT(killed.written, 0);
  EXPECT_GE(killed.written + killed.inDoubt, changed);
  const Outcome undo = clean({"--undo", QString::number(killed.id)});
  EXPECT_EQ(undo.status, 0) << undo.err.toStdString() << undo.out.toStdString();
  EXPECT_EQ(contents(), before);
}

// Fields of one table that find its rows (a table without a key, or its key itself): each
// later step finds the rows by the values the earlier ones wrote, and the undo goes back
// step by step.
TEST_F(CleanCommandTest, ARecipeOnTheColumnsThatFindTheRowsWritesAndUndoesThemAll) {
  db.exec(
      "CREATE TABLE bare (a TEXT, b TEXT); INSERT INTO bare VALUES ('a 1', 'b 1'), ('a 2', 'b'),"
      "('a', 'b 3');"
      "CREATE TABLE coded (code VARCHAR(10) PRIMARY KEY, v TEXT);"
      "INSERT INTO coded VALUES ('c 1', 'v 1'), ('c2', 'v 2');"
      "CREATE TABLE nothing (id INT PRIMARY KEY, w TEXT)");
  const Column bare = db.column("SELECT CONCAT(a, '|', b) FROM bare ORDER BY a, b");
  const Column coded = db.column("SELECT CONCAT(code, '|', v) FROM coded ORDER BY code");
  const Outcome run = cleanWithRecipe(R"({"klarifeld-recipe": 1, "steps": [
      {"table": "bare", "field": "a", "operation": "remove-all-spaces"},
      {"table": "bare", "field": "b", "operation": "remove-all-spaces"},
      {"table": "coded", "field": "code", "operation": "remove-all-spaces"},
      {"table": "coded", "field": "v", "operation": "remove-all-spaces"},
      {"table": "nothing", "field": "w", "operation": "remove-all-spaces"}]})");
  EXPECT_EQ(run.status, 0) << run.err.toStdString() << run.out.toStdString();
  EXPECT_EQ(db.column("SELECT CONCAT(a, '|', b) FROM bare ORDER BY a, b"),
            Column({text("a|b3"), text("a1|b1"), text("a2|b")}));
  EXPECT_EQ(db.column("SELECT CONCAT(code, '|', v) FROM coded ORDER BY code"),
            Column({text("c1|v1"), text("c2|v2")}));
  const Outcome undo = clean({"--undo", "1"});
  EXPECT_EQ(undo.status, 0) << undo.err.toStdString() << undo.out.toStdString();
  EXPECT_EQ(db.column("SELECT CONCAT(a, '|', b) FROM bare ORDER BY a, b"), bare);
  EXPECT_EQ(db.column("SELECT CONCAT(code, '|', v) FROM coded ORDER BY code"), coded);
}

// A signal that ends the program at the password prompt gives the terminal its echo back.
TEST_F(CleanCommandTest, ASignalAtThePasswordPromptLeavesTheEchoOn) {
  for (const int signal : {SIGHUP, SIGQUIT}) {
    int terminal = -1;
    const pid_t child = startOnTerminal({"-h", "127.0.0.1", "-u", "ann", "-p", "shop", "--table",
                                         "t", "--field", "v", "--operation", "remove-all-spaces"},
                                        dataHome.path(), terminal);
    ASSERT_GE(child, 0);
    QByteArray seen;
    ASSERT_TRUE(readUntil(terminal, "Password for", seen)) << seen.toStdString();
    termios state{};
    ASSERT_EQ(::tcgetattr(terminal, &state), 0);
    EXPECT_FALSE(state.c_lflag & ECHO) << "the password is not echoed";
    ::kill(child, signal);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(::tcgetattr(terminal, &state), 0);
    EXPECT_TRUE(state.c_lflag & ECHO) << "signal " << signal;
    ::close(terminal);
  }
}
