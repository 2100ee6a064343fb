// The command line and option files as the standard clients read them; no server needed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "../support/QStringPrinting.h"
#include "CleanOptions.h"

namespace {

class CleanOptionsTest : public testing::Test {
 protected:
  void SetUp() override {
    oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
  }
  void TearDown() override { qputenv("HOME", oldHome); }

  QString write(const QString& name, const QByteArray& text,
                QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner) {
    const QString path = home.path() + u'/' + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    file.setPermissions(permissions);
    return path;
  }
  static CommandLine parse(QStringList arguments) {
    return ParseCleanOptions(QStringList{"klarifeld-clean", "--history"} + arguments);
  }

  QTemporaryDir home;
  QByteArray oldHome;
};

TEST_F(CleanOptionsTest, ShortAndLongFormsAsTheStandardClientsTakeThem) {
  const CommandLine line =
      parse({"-h", "db1", "-P3307", "-uann", "-pse cret", "-D", "shop", "-S", "/run/x.sock",
             "--ssl_mode=REQUIRED", "--table=t", "--answer", "-", "--answer=a=b"});
  ASSERT_TRUE(line.options) << line.error.toStdString();
  const CleanOptions& options = *line.options;
  EXPECT_EQ(options.host, "db1");
  EXPECT_EQ(options.port, "3307");
  EXPECT_EQ(options.user, "ann");
  EXPECT_EQ(options.password, "se cret");
  EXPECT_FALSE(options.askPassword);
  EXPECT_EQ(options.database, "shop");
  EXPECT_EQ(options.socket, "/run/x.sock");
  EXPECT_EQ(options.sslMode, "REQUIRED");
  EXPECT_EQ(options.answers, (QStringList{"-", "a=b"})) << "a value may look like an option";
  EXPECT_EQ(options.given,
            (QStringList{"host", "port", "user", "password", "database", "socket", "ssl-mode"}));

  // -p and --password alone ask; they never take the next argument.
  for (const char* alone : {"-p", "--password"}) {
    const CommandLine asks = parse({alone, "--user", "ann"});
    ASSERT_TRUE(asks.options) << asks.error.toStdString();
    EXPECT_TRUE(asks.options->askPassword);
    EXPECT_EQ(asks.options->user, "ann");
  }
  // As the standard clients read it: the argument after -p alone is the database.
  for (const char* alone : {"-p", "--password"}) {
    const CommandLine database = parse({"-u", "ann", alone, "shop"});
    ASSERT_TRUE(database.options) << database.error.toStdString();
    EXPECT_TRUE(database.options->askPassword);
    EXPECT_EQ(database.options->database, "shop");
    EXPECT_TRUE(database.options->databaseFollowsPassword);
  }
  EXPECT_FALSE(parse({"-p", "-D", "shop"}).options->databaseFollowsPassword);

  EXPECT_EQ(parse({"--port=1", "shop"}).options->database, "shop") << "the database, bare";
  EXPECT_EQ(parse({"--", "-shop"}).options->database, "-shop");
  EXPECT_TRUE(ParseCleanOptions({"klarifeld-clean", "-?"}).output.startsWith("Usage:"));
  EXPECT_TRUE(ParseCleanOptions({"klarifeld-clean", "-h"}).error.contains("'-h' needs a value"))
      << "-h is the host, as in the standard clients";
}

TEST_F(CleanOptionsTest, MistakesAreNamed) {
  for (const auto& [arguments, error] : std::vector<std::pair<QStringList, QString>>{
           {{"--hots=x"}, "unknown option '--hots'."},
           {{"-x"}, "unknown option '-x'."},
           {{"--dry-run=1"}, "option '--dry-run' takes no value."},
           {{"--table"}, "option '--table' needs a value."},
           {{"a", "b"}, "unexpected argument 'b': only the database is given without an option."},
           {{"--undo=0"}, "--undo takes the number of a run, as --history lists them."},
           {{"--defaults-file=/dev/zero"},
            "The option file '/dev/zero' is not a text file of at most 1 MiB."},
           {{"--defaults-file=/nonexistent/my.cnf"},
            "The option file '/nonexistent/my.cnf' could not be read: No such file or directory."},
       }) {
    const CommandLine line = parse(arguments);
    EXPECT_FALSE(line.options) << arguments.join(u' ').toStdString();
    EXPECT_EQ(line.error, error) << arguments.join(u' ').toStdString();
  }
  const CommandLine missing = ParseCleanOptions({"klarifeld-clean", "--table=t"});
  EXPECT_EQ(missing.error, "--database is required.");
}

// Later groups and files override earlier ones; the command line overrides them all.
TEST_F(CleanOptionsTest, OptionFilesAreReadAsTheStandardClientsReadThem) {
  write(".my.cnf",
        "# for everyone\n"
        "[mysqld]\nport = 1\npassword = server's\n"
        "[client]\nhost = db1\nport = 3310\nuser = ann\npassword = \"p#ss \\\"w\\\"\"  # kept\n"
        "default-character-set = utf8mb4\n"
        "!includedir /etc/mysql/conf.d/\n"
        "[client-mariadb]\nport = 3311\n"
        "[Klarifeld-Clean]\ndatabase = shop ; not a comment here\nloose_ssl_mode = REQUIRED\n");
  const CommandLine line = parse({"--port", "3312"});
  ASSERT_TRUE(line.options) << line.error.toStdString();
  EXPECT_EQ(line.options->host, "db1");
  EXPECT_EQ(line.options->port, "3312");
  EXPECT_EQ(line.options->user, "ann");
  EXPECT_EQ(line.options->password, "p#ss \"w\"");
  EXPECT_EQ(line.options->database, "shop ; not a comment here");
  EXPECT_EQ(line.options->sslMode, "REQUIRED");
  EXPECT_EQ(line.options->given, QStringList{"port"}) << "a file's values are not given";
  EXPECT_EQ(parse({"--print-defaults"}).output,
            "klarifeld-clean would have been started with the following arguments:\n"
            "--host=db1 --port=3310 --user=ann --password=***** --default-character-set=utf8mb4 "
            "--port=3311 --database=shop ; not a comment here --ssl-mode=REQUIRED\n");

  EXPECT_EQ(parse({"--no-defaults"}).options->host, "localhost");
  // The extra file comes before ~/.my.cnf, so ~/.my.cnf wins where both speak.
  const QString extra = write("extra.cnf", "[client]\nhost=db2\nsocket=/run/a.sock\n");
  const CommandLine both = parse({"--defaults-extra-file=" + extra});
  EXPECT_EQ(both.options->host, "db1");
  EXPECT_EQ(both.options->socket, "/run/a.sock");
  const CommandLine only = parse({"--defaults-file", extra});
  EXPECT_EQ(only.options->host, "db2");
  EXPECT_EQ(only.options->user, "") << "~/.my.cnf is not read";

  // "password" alone asks, as -p does; the client's certificate switch means host checking.
  write(".my.cnf", "[client]\npassword\nssl-verify-server-cert\n");
  const CommandLine asks = parse({});
  EXPECT_TRUE(asks.options->askPassword);
  EXPECT_EQ(asks.options->sslMode, "VERIFY_IDENTITY");
  EXPECT_EQ(parse({"-psecret"}).options->askPassword, false);
  write(".my.cnf", "[client]\nssl-mode=REQUIRED\n");
  EXPECT_EQ(parse({"--ssl-verify-server-cert"}).options->sslMode, "VERIFY_IDENTITY")
      << "the command line over the file";
}

TEST_F(CleanOptionsTest, AnOptionFileThatAnyoneMayChangeIsIgnoredWithAWarning) {
  const QString path =
      write(".my.cnf", "[client]\nhost=evil\n",
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther);
  const CommandLine line = parse({});
  EXPECT_EQ(line.options->host, "localhost");
  EXPECT_EQ(line.warnings, QStringList{"warning: the option file '" + path +
                                       "' can be changed by every user, so it is ignored."});
  write(".my.cnf", "[client]\nport\n");
  EXPECT_EQ(parse({}).error,
            "option 'port' needs a value (in the option file '" + home.path() + "/.my.cnf').");
}

}  // namespace
