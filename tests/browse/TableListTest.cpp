#include <gtest/gtest.h>

#include <QStringList>

#include "../support/QStringPrinting.h"
#include "ConnectionString.h"
#include "DbError.h"
#include "ErrorReport.h"
#include "ListViewWidget.h"
#include "MySQL.h"
#include "ScriptedDialogs.h"
#include "TestServer.h"

namespace {

const QString Tag = QStringLiteral("Klarifeld2021/08/31.MySQL.AddMySQLToList1");

QStringList entries(const ListViewWidget& list) {
  QStringList texts;
  for (int i = 0; i < list.count(); ++i) texts << list.topLevelItem(i)->text(0);
  return texts;
}

}  // namespace

class TableListTest : public testing::Test {
 protected:
  const TestServer& server = TestServer::get();
  ScratchDatabase db;
  ListViewWidget list;
  ScriptedDialogs dialogs;
};

TEST_F(TableListTest, ListsTablesExceptThoseBeginningWithSys) {
  db.exec(
      "CREATE TABLE orders (id INT); CREATE TABLE sys (id INT); CREATE TABLE sys_config (id INT);"
      "CREATE TABLE `System` (id INT); CREATE TABLE SYSLOG (id INT); CREATE TABLE Sysadmin (id "
      "INT);"
      "CREATE TABLE sy (id INT); CREATE TABLE my_sys (id INT); CREATE TABLE ` sys` (id INT);"
      "CREATE TABLE `we``ird` (id INT)");
  AddMySQLToList1(list, db.connectionString(), dialogs);
  EXPECT_EQ(entries(list), QStringList({" sys", "my_sys", "orders", "sy", "we`ird"}));
  EXPECT_TRUE(dialogs.shown().empty());
  EXPECT_EQ(list.selectedText(), " sys");

  AddMySQLToList1(list, db.connectionString(), dialogs);  // adds the same names again
  EXPECT_EQ(list.count(), 10);
  EXPECT_EQ(list.topLevelItem(5)->text(0), " sys");
}

TEST_F(TableListTest, AnEmptyDatabaseAddsNothing) {
  AddMySQLToList1(list, db.connectionString(), dialogs);
  EXPECT_EQ(list.count(), 0);
  EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(TableListTest, NoDatabaseNamedReportsLines108And110) {
  AddMySQLToList1(list, server.connectionString(""), dialogs);
  EXPECT_EQ(dialogs.messages(), QStringList({ErrorReportText("No database selected", Tag, 108),
                                             ErrorReportText(DbMessages::ObjectClosed, Tag, 110)}));
  EXPECT_EQ(dialogs.shown()[0].title, "Application Error");
  EXPECT_EQ(list.count(), 0);
}

TEST_F(TableListTest, AConnectionThatFailsReportsLines106To110) {
  for (const QString& connectionString :
       {BuildConnectionString(server.host, server.user, "wrong", db.name(), server.port),
        BuildConnectionString(server.host, server.user, server.password, db.name(), "1")}) {
    dialogs.clear();
    AddMySQLToList1(list, connectionString, dialogs);
    const QStringList shown = dialogs.messages();
    ASSERT_EQ(shown.size(), 3);
    EXPECT_TRUE(shown[0].endsWith(ErrorReportText("", Tag, 106))) << shown[0].toStdString();
    EXPECT_GT(shown[0].indexOf("\r\n"), 0) << "the server's reason comes first";
    EXPECT_EQ(shown[1], ErrorReportText(DbMessages::ObjectClosed, Tag, 108));
    EXPECT_EQ(shown[2], ErrorReportText(DbMessages::ObjectClosed, Tag, 110));
  }
}

TEST_F(TableListTest, ConnectionCheckAnswersSilently) {
  EXPECT_TRUE(CheckMySQLConnection(db.connectionString()));
  EXPECT_TRUE(CheckMySQLConnection(server.connectionString("")));
  EXPECT_FALSE(CheckMySQLConnection(
      BuildConnectionString(server.host, server.user, "wrong", "", server.port)));
  EXPECT_FALSE(CheckMySQLConnection(
      BuildConnectionString(server.host, server.user, server.password, "", "1")));
  EXPECT_FALSE(CheckMySQLConnection(
      BuildConnectionString(server.host, server.user, server.password, "", "port")));
  EXPECT_FALSE(CheckMySQLConnection(
      BuildConnectionString(server.host, server.user, server.password, "no_such_db", server.port)));
}
