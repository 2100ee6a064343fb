#include "RecordSet.h"

#include <gtest/gtest.h>

#include "../support/QStringPrinting.h"
#include "Connection.h"
#include "TestServer.h"

class RecordSetTest : public testing::Test {
 protected:
  void SetUp() override { connection.Open(db.connectionString()); }
  ScratchDatabase db;
  Connection connection;
};

TEST_F(RecordSetTest, ValuesReadAsTextOrNull) {
  db.exec(
      "CREATE TABLE t (id INT PRIMARY KEY, txt VARCHAR(50), dec_ DECIMAL(10,2), at DATETIME, "
      "latin VARCHAR(10) CHARACTER SET latin1, bin VARBINARY(300), nothing TEXT);"
      "INSERT INTO t VALUES (1, 'a\\tb\\r\\nc 😀 Ж', 12.50, '2021-08-31 13:45:00', 'café', "
      "UNHEX('00FF7F80'), NULL)");
  RecordSet records;
  records.Open("SELECT * FROM t", connection);
  ASSERT_FALSE(records.Eof());
  EXPECT_EQ(records.Value(0), "1");
  EXPECT_EQ(records.Value(1), QStringLiteral("a\tb\r\nc \U0001F600 Ж"));
  EXPECT_EQ(records.Value(2), "12.50");
  EXPECT_EQ(records.Value(3), "2021-08-31 13:45:00");
  EXPECT_EQ(records.Value(4), QStringLiteral("café"));
  EXPECT_EQ(records.Value(5), QString(QChar(0)) + QChar(0xFF) + QChar(0x7F) + QChar(0x80));
  EXPECT_EQ(records.Value(6), std::nullopt);
  EXPECT_THROW(records.Value(7), DbError);
  records.MoveNext();
  EXPECT_TRUE(records.Eof());
  EXPECT_THROW(records.Value(0), DbError);
  EXPECT_THROW(records.MoveNext(), DbError);
}

TEST_F(RecordSetTest, FieldsComeInColumnOrder) {
  db.exec("CREATE TABLE t (b INT, `a b` INT, `c``d` INT)");
  RecordSet records;
  records.Open("SELECT * FROM t", connection);
  ASSERT_EQ(records.Fields().count(), 3);
  EXPECT_EQ(records.Fields().Name(0), "b");
  EXPECT_EQ(records.Fields().Name(1), "a b");
  EXPECT_EQ(records.Fields().Name(2), "c`d");
  EXPECT_TRUE(records.Eof());
  EXPECT_EQ(records.RecordCount(), 0);
}

TEST_F(RecordSetTest, CountIsExactWhereverTheReaderStands) {
  db.exec("CREATE TABLE t (n INT); INSERT INTO t SELECT seq FROM seq_1_to_2500");
  RecordSet records;
  records.Open("SELECT n FROM t ORDER BY n", connection);
  records.MoveNext();
  EXPECT_EQ(records.RecordCount(), 2500);
  qint32 read = 2;
  for (; !records.Eof(); records.MoveNext()) ASSERT_EQ(records.Value(0), QString::number(read++));
  EXPECT_EQ(read, 2501);
  EXPECT_EQ(records.RecordCount(), 2500);
}

// The client library carries one result at a time: a second statement must not cut the first.
TEST_F(RecordSetTest, AnotherStatementWhileRowsStreamKeepsThemReadable) {
  db.exec("CREATE TABLE t (n INT); INSERT INTO t SELECT seq FROM seq_1_to_20000");
  RecordSet first;
  first.Open("SELECT n FROM t ORDER BY n", connection);
  first.MoveNext();
  auto second = connection.Execute("SELECT COUNT(*) FROM t");
  EXPECT_EQ(second->Value(0), "20000");
  RecordSet third;
  third.Open("SELECT n FROM t", connection);
  third.Close();  // closed with its rows unread
  EXPECT_EQ(connection.Execute("SELECT 7")->Value(0), "7");

  qint32 expected = 2;
  for (; !first.Eof(); first.MoveNext()) ASSERT_EQ(first.Value(0), QString::number(expected++));
  EXPECT_EQ(expected, 20001);
}

TEST_F(RecordSetTest, StatementWithoutRowsLeavesItClosed) {
  db.exec("CREATE TABLE t (n INT)");
  auto records = connection.Execute("INSERT INTO t VALUES (1)");
  EXPECT_FALSE(records->isOpen());
  EXPECT_THROW(records->RecordCount(), DbError);
  records->Close();  // closing a closed record set is harmless
  EXPECT_EQ(db.column("SELECT COUNT(*) FROM t")[0], "1");
}

TEST_F(RecordSetTest, ALostConnectionIsAFailureNotTheEnd) {
  db.exec(
      "CREATE TABLE t (n INT, pad CHAR(200)); INSERT INTO t SELECT seq, 'x' FROM seq_1_to_100000");
  RecordSet records;
  records.Open("SELECT * FROM t", connection);
  auto id = connection.Execute("SELECT CONNECTION_ID()");
  // Reading the id buffered the rest; a fresh stream is needed.
  records.Close();
  const QString connectionId = *id->Value(0);
  id->Close();
  records.Open("SELECT * FROM t", connection);
  ExecOnServer("KILL CONNECTION " + connectionId);
  EXPECT_THROW(
      {
        for (int i = 0; i < 100000 && !records.Eof(); ++i) records.MoveNext();
      },
      DbError);
}
