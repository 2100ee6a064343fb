// klarifeld-clean on PostgreSQL, end to end: a run, its dry run, the journal and the undo,
// against the fixture's PostgreSQL server.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "../support/QStringPrinting.h"
#include "OperationCatalogue.h"
#include "PgTestServer.h"

namespace {

struct Outcome {
  int status = -1;
  QString out;
  QString err;
};

class PgCleanCommandTest : public testing::Test {
 protected:
  QString attribute(const QString& key) const {
    const QString connection = db.connectionString();
    const qsizetype at = connection.indexOf(key + u'=') + key.size() + 1;
    return connection.mid(at, connection.indexOf(u';', at) - at);
  }
  // klarifeld-clean with `arguments` alone and `environment` added to a clean one.
  Outcome bare(const QStringList& arguments, const QHash<QString, QString>& environment = {}) {
    QProcessEnvironment clean = QProcessEnvironment::systemEnvironment();
    for (const QString& name : clean.keys()) {
      if (name.startsWith(u"PG") || name == u"MYSQL_PWD") clean.remove(name);
    }
    clean.insert("HOME", home.path());
    clean.insert("XDG_DATA_HOME", home.path());
    for (auto it = environment.begin(); it != environment.end(); ++it) {
      clean.insert(it.key(), it.value());
    }
    QProcess program;
    program.setProcessEnvironment(clean);
    program.start(KLARIFELD_CLEAN_PATH, arguments);
    program.closeWriteChannel();
    EXPECT_TRUE(program.waitForFinished(60000));
    return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
            QString::fromUtf8(program.readAllStandardError())};
  }
  // With the server named by options, the password in PGPASSWORD.
  Outcome clean(const QStringList& arguments) {
    return bare(
        QStringList{"--engine", "postgresql", "--host", attribute("SERVER"), "--port",
                    attribute("PORT"), "--user", attribute("USER"), "--database", db.name()} +
            arguments,
        {{"PGPASSWORD", attribute("PASSWORD")}});
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
  // The journal keeps the engine: the undo logs in to the run's server as PostgreSQL, unasked.
  const Outcome undo =
      bare({"--undo", "1"}, {{"PGPASSWORD", attribute("PASSWORD")}, {"PGUSER", attribute("USER")}});
  EXPECT_EQ(undo.status, 1) << "a value left is reported: " << undo.err.toStdString();
  EXPECT_TRUE(undo.out.contains("1 written")) << undo.out.toStdString();
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"),
            Column({text("aB"), before[1], std::nullopt, text("ok")}))
      << "row 1, changed since, is left";
  const Outcome elsewhere = bare(
      {"--undo", "2", "--engine", "mariadb", "--host", "127.0.0.1", "--port", attribute("PORT")});
  EXPECT_EQ(elsewhere.status, 2);
  EXPECT_TRUE(elsewhere.err.contains("This run was made on PostgreSQL."))
      << elsewhere.err.toStdString();
  // The journal holds char(n)'s values padded, as the rows hold them: all go back.
  const Outcome unpadded =
      bare({"--undo", "2"}, {{"PGPASSWORD", attribute("PASSWORD")}, {"PGUSER", attribute("USER")}});
  EXPECT_EQ(unpadded.status, 0) << unpadded.err.toStdString();
  EXPECT_EQ(db.column("SELECT c FROM t ORDER BY id"),
            Column({text("x y   "), std::nullopt, text("z     "), text("o k   ")}));
}

// The conventions a psql user expects: PG* variables, ~/.pgpass (only when only its owner
// can read it), and a postgresql:// URI as the bare argument.
TEST_F(PgCleanCommandTest, LibpqsConventionsFindTheServer) {
  db.exec("CREATE TABLE t (id int PRIMARY KEY, v text); INSERT INTO t VALUES (1, 'a b')");
  const QStringList values{"--table", "t", "--field", "v", "--values"};
  const QHash<QString, QString> variables = {{"PGHOST", attribute("SERVER")},
                                             {"PGPORT", attribute("PORT")},
                                             {"PGUSER", attribute("USER")},
                                             {"PGDATABASE", db.name()},
                                             {"PGPASSWORD", attribute("PASSWORD")}};
  const Outcome byVariables = bare(QStringList{"--engine", "postgresql"} + values, variables);
  EXPECT_EQ(byVariables.status, 0) << byVariables.err.toStdString();
  EXPECT_EQ(byVariables.out, "1\ta·b\n");

  QFile pgpass(home.filePath(".pgpass"));
  ASSERT_TRUE(pgpass.open(QIODevice::WriteOnly));
  pgpass.write(
      QStringLiteral("%1:%2:*:%3:%4\n")
          .arg(attribute("SERVER"), attribute("PORT"), attribute("USER"), attribute("PASSWORD"))
          .toUtf8());
  pgpass.close();
  QHash<QString, QString> withoutPassword = variables;
  withoutPassword.remove("PGPASSWORD");
  pgpass.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  EXPECT_EQ(bare(QStringList{"--engine", "postgresql"} + values, withoutPassword).status, 0);
  pgpass.setPermissions(pgpass.permissions() | QFile::ReadOther);
  EXPECT_EQ(bare(QStringList{"--engine", "postgresql"} + values, withoutPassword).status, 3)
      << "a file others can read is not trusted with the password";

  const QString uri =
      QStringLiteral("postgresql://%1@%2:%3/%4")
          .arg(attribute("USER"), attribute("SERVER"), attribute("PORT"), db.name());
  const Outcome byUri = bare(values + QStringList{uri}, {{"PGPASSWORD", attribute("PASSWORD")}});
  EXPECT_EQ(byUri.status, 0) << byUri.err.toStdString();
  EXPECT_EQ(byUri.out, "1\ta·b\n");
}

// A recipe of two fields is one run on PostgreSQL too, and one undo takes it back.
TEST_F(PgCleanCommandTest, ARecipeAndItsUndo) {
  db.exec(
      "CREATE TABLE t (id int PRIMARY KEY, v text, w text);"
      "INSERT INTO t VALUES (1, 'a b', ' x'), (2, 'c', 'y z'), (3, NULL, 'ok')");
  QFile recipe(home.filePath("recipe.json"));
  ASSERT_TRUE(recipe.open(QIODevice::WriteOnly));
  recipe.write(R"({"klarifeld-recipe": 1, "steps": [)"
               R"({"table": "t", "field": "v", "operation": "remove-all-spaces"},)"
               R"({"table": "t", "field": "w", "operation": "remove-all-spaces"}]})");
  recipe.close();
  const Outcome ran = clean({"--recipe", recipe.fileName()});
  EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
  EXPECT_EQ(db.column("SELECT concat(v, '|', w) FROM t ORDER BY id"),
            Column({text("ab|x"), text("c|yz"), text("|ok")}));
  const Outcome undone = clean({"--undo", "1"});
  EXPECT_EQ(undone.status, 0) << undone.err.toStdString();
  EXPECT_EQ(db.column("SELECT concat(v, '|', w) FROM t ORDER BY id"),
            Column({text("a b| x"), text("c|y z"), text("|ok")}));
}

// A run killed mid-way leaves every row it wrote in the journal: its undo puts all back.
TEST_F(PgCleanCommandTest, AKilledRunIsUndoneWhole) {
  constexpr int Rows = 400000;  // many chunks, so that the kill comes between them
  db.exec(QStringLiteral("CREATE TABLE t (id int PRIMARY KEY, v text);"
                         "INSERT INTO t SELECT g, 'r ' || g FROM generate_series(1, %1) g")
              .arg(Rows));
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_DATA_HOME", home.path());
  environment.insert("PGPASSWORD", attribute("PASSWORD"));
  QProcess run;
  run.setProcessEnvironment(environment);
  run.start(KLARIFELD_CLEAN_PATH,
            {"--engine", "postgresql", "--host", attribute("SERVER"), "--port", attribute("PORT"),
             "--user", attribute("USER"), "--database", db.name(), "--table", "t", "--field", "v",
             "--operation", "remove-all-spaces"});
  ASSERT_TRUE(run.waitForStarted());
  const QString changed = QStringLiteral("SELECT count(*) FROM t WHERE v NOT LIKE '% %'");
  QElapsedTimer waited;
  waited.start();
  while (db.column(changed)[0]->toInt() == 0) {
    ASSERT_LT(waited.elapsed(), 60000) << "the run wrote nothing";
    QThread::msleep(2);
  }
  ::kill(pid_t(run.processId()), SIGKILL);
  run.waitForFinished();
  ASSERT_LT(db.column(changed)[0]->toInt(), Rows) << "the run ended before it was killed";
  const Outcome undone = clean({"--undo", "1"});
  EXPECT_EQ(undone.status, 0) << undone.err.toStdString();
  EXPECT_EQ(db.column(changed), Column({text("0")})) << undone.out.toStdString();
}

// Each operation, run on PostgreSQL, writes byte for byte what it computes, and only there.
TEST_F(PgCleanCommandTest, EveryOperationWritesWhatItComputes) {
  const QStringList values{"a b",     "\t x\r\n", "Zoë  Straße", "",           "  lead",
                           "trail  ", "x\"y\\z",  "😀 a\u00a0b",  "ABC abc 123"};
  db.exec(
      "CREATE TABLE original (id int PRIMARY KEY, v text); CREATE TABLE t (LIKE original "
      "INCLUDING ALL)");
  for (int i = 0; i < values.size(); ++i) {
    db.exec(QStringLiteral("INSERT INTO original VALUES (%1, convert_from('\\x%2', 'UTF8'))")
                .arg(i + 1)
                .arg(QString::fromLatin1(values[i].toUtf8().toHex())));
  }
  db.exec(QStringLiteral("INSERT INTO original VALUES (%1, NULL)").arg(values.size() + 1));
  for (const CleaningOperation& operation : Catalogue()) {
    if (!operation.listed()) continue;
    const QStringList given =
        operation.kind == OperationKind::Replacement             ? QStringList{"_"}
        : operation.kind == OperationKind::Characters            ? QStringList{"a"}
        : operation.kind == OperationKind::Number                ? QStringList{"2"}
        : operation.kind == OperationKind::SearchAndReplacement  ? QStringList{"a", "b"}
        : operation.kind == OperationKind::PatternAndReplacement ? QStringList{"\\s+", "-"}
                                                                 : QStringList{};
    db.exec("TRUNCATE t; INSERT INTO t SELECT * FROM original");
    QStringList arguments{"--table", "t",           "--field",
                          "v",       "--operation", OperationShortName(operation)};
    for (const QString& answer : given) arguments << "--answer" << answer;
    const Outcome ran = clean(arguments);
    const std::string name = OperationShortName(operation).toStdString();
    EXPECT_EQ(ran.status, 0) << name << ": " << ran.err.toStdString();
    Column expected;
    const Answers answers{given.value(0), given.value(1)};
    for (const QString& value : values)
      expected.push_back(operation.transform(value, answers).toUtf8());
    expected.push_back(std::nullopt);
    EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"), expected) << name;
  }
}
