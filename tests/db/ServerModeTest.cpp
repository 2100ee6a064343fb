#include <gtest/gtest.h>

#include "../support/QStringPrinting.h"
#include "Connection.h"
#include "RecordSet.h"
#include "TestServer.h"

// A server whose own sql_mode is empty would cut a too-long value short and only warn.
// The record layer asks for strict mode itself; this runs alone, as it changes the server.
class ServerModeTest : public testing::Test {
 protected:
  void SetUp() override {
    db.exec("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(3)); INSERT INTO t VALUES (1, 'abc')");
    savedMode = *db.column("SELECT @@GLOBAL.sql_mode")[0];
    ExecOnServer("SET GLOBAL sql_mode = ''");
  }
  void TearDown() override {
    ExecOnServer("SET GLOBAL sql_mode = '" + QString::fromUtf8(savedMode) + "'");
  }

  ScratchDatabase db;
  QByteArray savedMode;
};

TEST_F(ServerModeTest, ATooLongValueIsRefusedWhenTheServerIsNotStrict) {
  ASSERT_EQ(db.column("SELECT @@GLOBAL.sql_mode")[0], QByteArray());
  Connection connection;
  connection.Open(db.connectionString());
  RecordSet records;
  records.Open("SELECT * FROM t", connection, RecordSet::Keyset, RecordSet::Optimistic);
  records.SetValue(1, "abcd");
  EXPECT_THROW(records.Update(), DbError);
  EXPECT_EQ(db.column("SELECT v FROM t"), Column({QByteArray("abc")}));
}
