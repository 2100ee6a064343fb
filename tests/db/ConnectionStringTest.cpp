#include "ConnectionString.h"

#include <gtest/gtest.h>

#include <QStringList>

#include "../support/QStringPrinting.h"
#include "Connection.h"
#include "DbObject.h"
#include "RecordSet.h"
#include "TestServer.h"

TEST(BuildConnectionString, JoinsOrdinaryValuesUnchanged) {
  EXPECT_EQ(BuildConnectionString("localhost", "", "", "", "3306"),
            "DRIVER={MySQL ODBC 5.1 Driver};SERVER=localhost;USER=;PASSWORD=;DATABASE=;PORT=3306;");
  EXPECT_EQ(BuildConnectionString(" h ", "u}", "p=w", "d b", "x"),
            "DRIVER={MySQL ODBC 5.1 Driver};SERVER= h ;USER=u};PASSWORD=p=w;DATABASE=d b;PORT=x;");
}

TEST(BuildConnectionString, BracesValuesThatWouldEndEarlyOrReadAsBraced) {
  EXPECT_EQ(BuildConnectionString("h;USER=root;PASSWORD=", "u", "pw;PORT=1", "{d}", "3306"),
            "DRIVER={MySQL ODBC 5.1 Driver};SERVER={h;USER=root;PASSWORD=};USER=u;"
            "PASSWORD={pw;PORT=1};DATABASE={{d}}};PORT=3306;");
}

TEST(ConnectionStringRoundTrip, EveryValueComesBackAsItWent) {
  const QString nul = QString(QChar(0));
  const QStringList values = {"",           ";",
                              "{",          "}",
                              "{}",         "a;b",
                              "{a;b}",      "}}{{;;",
                              "x=y;PORT=1", "p" + nul + "w",
                              " {x ",       "a}b;c{d",
                              "😀;{é}",      "{" + nul + ";"};
  for (const QString& value : values) {
    const ConnectionAttributes read =
        ParseConnectionString(BuildConnectionString(value, value, value, value, value));
    EXPECT_EQ(read.server, value);
    EXPECT_EQ(read.user, value);
    EXPECT_EQ(read.password, value);
    EXPECT_EQ(read.database, value);
    EXPECT_EQ(read.port, value);
  }
}

TEST(BuildConnectionString, AddsTheEncryptionOnlyWhenItIsNotTheDefault) {
  const QString plain = BuildConnectionString("h", "u", "p", "d", "1");
  EXPECT_EQ(BuildConnectionString("h", "u", "p", "d", "1", Encryption::Preferred), plain);
  EXPECT_EQ(ParseConnectionString(plain).sslMode, "");
  const QString checked =
      BuildConnectionString("h", "u", "p", "d", "1", Encryption::VerifyCa, "/etc/ca;{x}.pem");
  EXPECT_EQ(checked, plain + "SSLMODE=VERIFY_CA;SSLCA={/etc/ca;{x}}.pem};");
  const ConnectionAttributes read = ParseConnectionString(checked);
  EXPECT_EQ(EncryptionNamed(read.sslMode), Encryption::VerifyCa);
  EXPECT_EQ(read.sslCa, "/etc/ca;{x}.pem");
  EXPECT_EQ(EncryptionNamed("verify_identity"), Encryption::VerifyIdentity);
  EXPECT_EQ(EncryptionNamed("SOMETIMES"), std::nullopt);
}

TEST(ParseConnectionString, ReadsOdbcSyntax) {
  const ConnectionAttributes read = ParseConnectionString(
      "driver={MySQL ODBC 5.1 Driver};Server=db1;UsEr=ann;PASSWORD={a;b}}c};"
      "DATABASE=shop;PORT=3307;OPTION=3;junk;");
  EXPECT_EQ(read.driver, "MySQL ODBC 5.1 Driver");
  EXPECT_EQ(read.server, "db1");
  EXPECT_EQ(read.user, "ann");
  EXPECT_EQ(read.password, "a;b}c");
  EXPECT_EQ(read.database, "shop");
  EXPECT_EQ(read.port, "3307");
}

TEST(ParseConnectionString, FirstOccurrenceOfAKeyCounts) {
  const ConnectionAttributes read = ParseConnectionString("SERVER=h;USER=u;PORT=1;PORT=3306;");
  EXPECT_EQ(read.port, "1");
  EXPECT_EQ(ParseConnectionString("PORT=;PORT=5;").port, "");
}

class ConnectionTest : public testing::Test {
 protected:
  const TestServer& server = TestServer::get();
  QString withPort(const QString& port) const {
    return BuildConnectionString(server.host, server.user, server.password, "", port);
  }
};

TEST_F(ConnectionTest, OpensWithTheFixturesProfile) {
  Connection connection;
  connection.Open(server.connectionString(""));
  EXPECT_TRUE(connection.isOpen());
  // Without a database the session has no current one.
  RecordSet session;
  session.Open("SELECT DATABASE(), @@character_set_client, @@sql_mode", connection);
  EXPECT_EQ(session.Value(0), std::nullopt);
  EXPECT_EQ(session.Value(1), "utf8mb4");
  EXPECT_TRUE(session.Value(2)->contains("STRICT_ALL_TABLES"));
}

TEST_F(ConnectionTest, RefusesOtherDriversAndBadPorts) {
  Connection connection;
  QString wrongDriver = server.connectionString("");
  wrongDriver.replace("MySQL ODBC 5.1 Driver", "SQL Server");
  try {
    connection.Open(wrongDriver);
    ADD_FAILURE() << "opened";
  } catch (const DbError& failure) {
    EXPECT_STREQ(failure.what(), "Data source name not found and no default driver specified");
  }
  EXPECT_THROW(connection.Open(withPort("33o6")), DbError);
  EXPECT_THROW(connection.Open(withPort("70000")), DbError);
  EXPECT_FALSE(connection.isOpen());
  // Nothing works on a connection that did not open.
  EXPECT_THROW(connection.Execute("SELECT 1"), DbError);
  RecordSet records;
  EXPECT_THROW(records.Open("SELECT 1", connection), DbError);
}

TEST_F(ConnectionTest, ReportsTheServersOwnReason) {
  Connection connection;
  try {
    connection.Open(BuildConnectionString(server.host, server.user, "wrong", "", server.port));
    ADD_FAILURE() << "opened";
  } catch (const DbError& failure) {
    EXPECT_EQ(failure.errorNumber(), 1045u);
    EXPECT_TRUE(QString(failure.what()).startsWith("Access denied for user")) << failure.what();
  }
}

TEST_F(ConnectionTest, APasswordMayHoldSemicolonsAndBraces) {
  ExecOnServer("DROP USER IF EXISTS 'semi'@'%'; CREATE USER 'semi'@'%' IDENTIFIED BY '{p;w}x'");
  Connection connection;
  connection.Open(BuildConnectionString(server.host, "semi", "{p;w}x", "", server.port));
  EXPECT_TRUE(connection.isOpen());
  ExecOnServer("DROP USER 'semi'@'%'");
}

TEST_F(ConnectionTest, RefusesANulInsteadOfCuttingTheValueShort) {
  ExecOnServer("DROP USER IF EXISTS 'nul'@'%'; CREATE USER 'nul'@'%' IDENTIFIED BY 'p'");
  Connection connection;
  try {
    connection.Open(
        BuildConnectionString(server.host, "nul", "p" + QString(QChar(0)) + "w", "", server.port));
    ADD_FAILURE() << "opened with the password cut short";
  } catch (const DbError& failure) {
    EXPECT_STREQ(failure.what(),
                 "The password holds a character of code 0, which cannot be sent to the server. "
                 "Remove it and try again.");
  }
  EXPECT_FALSE(connection.isOpen());
  ExecOnServer("DROP USER 'nul'@'%'");
}

TEST(CreateObject, MakesTheTwoClassesByName) {
  EXPECT_NE(dynamic_cast<Connection*>(CreateObject(u"ADODB.Connection").get()), nullptr);
  EXPECT_NE(dynamic_cast<RecordSet*>(CreateObject(u"adodb.recordset").get()), nullptr);
  EXPECT_THROW(CreateObject(u"ADODB.Command"), DbError);
  EXPECT_THROW(CreateObjectAs<Connection>(u"ADODB.RecordSet"), DbError);
}
