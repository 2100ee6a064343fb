#include <gtest/gtest.h>

#include "../support/QStringPrinting.h"
#include "Connection.h"
#include "RecordSet.h"
#include "TestServer.h"

namespace {
std::optional<QByteArray> bytes(const char* text) {
  return QByteArray(text);
}
}  // namespace

class RowUpdateTest : public testing::Test {
 protected:
  void SetUp() override { connection.Open(db.connectionString()); }

  // Opens the table for writing and moves to its row number `row` (from 0).
  void openAt(const QString& table, int row) {
    records.Open("SELECT * FROM `" + table + "`", connection, RecordSet::Keyset,
                 RecordSet::Optimistic);
    for (int i = 0; i < row; ++i) records.MoveNext();
  }
  void write(int field, const FieldValue& value) {
    records.SetValue(field, value);
    records.Update();
  }
  void expectRowNotLocated() {
    try {
      records.Update();
      ADD_FAILURE() << "written";
    } catch (const DbError& failure) {
      EXPECT_STREQ(failure.what(),
                   "Row cannot be located for updating. Some values may have been changed "
                   "since it was last read.");
    }
  }

  ScratchDatabase db;
  Connection connection;
  RecordSet records;
};

TEST_F(RowUpdateTest, WritesTheRowOfThePrimaryKey) {
  db.exec(
      "CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(20));"
      "INSERT INTO t VALUES (1,'a'),(2,'b'),(3,'c')");
  openAt("t", 1);
  write(1, "B!");
  EXPECT_EQ(records.Value(1), "B!");
  write(1, "B!!");  // the check now expects what was written
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"),
            Column({bytes("a"), bytes("B!!"), bytes("c")}));
}

TEST_F(RowUpdateTest, WritesTheRowOfACompositeKey) {
  db.exec(
      "CREATE TABLE t (a INT, b VARCHAR(5), v TEXT, PRIMARY KEY (b, a));"
      "INSERT INTO t VALUES (1,'x','p'),(2,'x','q'),(1,'y','r')");
  records.Open("SELECT * FROM t WHERE a = 2", connection, RecordSet::Keyset, RecordSet::Optimistic);
  write(2, "Q");
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY a, b"),
            Column({bytes("p"), bytes("r"), bytes("Q")}));
}

TEST_F(RowUpdateTest, WithoutKeyWritesOneOfTwinRows) {
  db.exec(
      "CREATE TABLE t (v VARCHAR(10), w INT);"
      "INSERT INTO t VALUES ('a',1),('a',1),('Peru',2),('Peru ',2),('PERU',2),(NULL,3)");
  openAt("t", 3);
  ASSERT_EQ(records.Value(0), "Peru ");
  write(0, "X");
  EXPECT_EQ(
      db.column("SELECT v FROM t ORDER BY w, BINARY v"),
      Column({bytes("a"), bytes("a"), bytes("PERU"), bytes("Peru"), bytes("X"), std::nullopt}));
  records.Close();
  openAt("t", 0);
  write(0, "b");
  EXPECT_EQ(db.column("SELECT COUNT(*) FROM t WHERE v = 'a'")[0], "1");
  records.Close();
  openAt("t", 5);
  write(1, "4");  // a null among the values read still finds its row
  EXPECT_EQ(db.column("SELECT w FROM t WHERE v IS NULL")[0], "4");
}

TEST_F(RowUpdateTest, WithoutPrimaryKeyAUniqueKeyIdentifiesTheRow) {
  db.exec(
      "CREATE TABLE t (code VARCHAR(5) NOT NULL UNIQUE, v VARCHAR(5));"
      "INSERT INTO t VALUES ('k1','a'),('k2','a')");
  openAt("t", 1);
  write(1, "b");
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY code"), Column({bytes("a"), bytes("b")}));
}

TEST_F(RowUpdateTest, AChangeByAnotherClientIsNotOverwritten) {
  db.exec("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(20)); INSERT INTO t VALUES (1,'abc')");
  openAt("t", 0);
  db.exec("UPDATE t SET v = 'ABC' WHERE id = 1");  // equal under the collation, not as bytes
  records.SetValue(1, "xyz");
  expectRowNotLocated();
  EXPECT_EQ(db.column("SELECT v FROM t")[0], "ABC");
}

TEST_F(RowUpdateTest, ADeletedRowIsNotWritten) {
  db.exec("CREATE TABLE t (v VARCHAR(20)); INSERT INTO t VALUES ('abc')");
  openAt("t", 0);
  db.exec("DELETE FROM t");
  records.SetValue(0, "xyz");
  expectRowNotLocated();
  EXPECT_TRUE(db.column("SELECT v FROM t").empty());
}

TEST_F(RowUpdateTest, AValueThatDoesNotFitIsRefusedNotTruncated) {
  db.exec(
      "CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(5), n INT, l VARCHAR(5) CHARACTER SET latin1);"
      "INSERT INTO t VALUES (1,'abc',7,'x')");
  openAt("t", 0);
  records.SetValue(1, "toolong");
  EXPECT_THROW(records.Update(), DbError);
  records.CancelUpdate();
  records.SetValue(2, "12a");
  EXPECT_THROW(records.Update(), DbError);
  records.CancelUpdate();
  records.SetValue(3, QStringLiteral("Жук"));
  EXPECT_THROW(records.Update(), DbError);
  records.CancelUpdate();
  EXPECT_EQ(db.column("SELECT CONCAT_WS('|', v, n, l) FROM t")[0], "abc|7|x");
}

TEST_F(RowUpdateTest, BinaryBytesSurviveAReadAndAWrite) {
  db.exec(
      "CREATE TABLE t (id INT PRIMARY KEY, b BLOB, v VARBINARY(4));"
      "INSERT INTO t SELECT 1, GROUP_CONCAT(CHAR(seq) ORDER BY seq SEPARATOR ''), 'ab' "
      "FROM seq_0_to_255");
  openAt("t", 0);
  const FieldValue all = records.Value(1);
  ASSERT_EQ(all->size(), 256);
  QString reversed = *all;
  std::reverse(reversed.begin(), reversed.end());
  write(1, reversed);
  EXPECT_EQ(db.column("SELECT HEX(b) = HEX(REVERSE(b)) FROM t")[0], "0");
  EXPECT_EQ(db.column("SELECT HEX(b) FROM t")[0]->left(6), "FFFEFD");
  records.SetValue(2, QStringLiteral("Ж"));  // not a byte
  EXPECT_THROW(records.Update(), DbError);
}

TEST_F(RowUpdateTest, NamesWithBackquotesAndNulls) {
  db.exec(
      "CREATE TABLE `we``ird` (`i``d` INT PRIMARY KEY, `v``x` TEXT);"
      "INSERT INTO `we``ird` VALUES (1, 'a')");
  openAt("we``ird", 0);
  write(1, std::nullopt);
  EXPECT_EQ(records.Value(1), std::nullopt);
  write(1, "back");
  EXPECT_EQ(db.column("SELECT `v``x` FROM `we``ird`")[0], "back");
  write(1, "back");  // an equal value still finds its row
}

TEST_F(RowUpdateTest, ReadOnlyAndComputedFieldsRefuseWrites) {
  db.exec("CREATE TABLE t (id INT PRIMARY KEY, v TEXT); INSERT INTO t VALUES (1,'a')");
  records.Open("SELECT * FROM t", connection);  // read-only by default
  records.SetValue(1, "b");
  EXPECT_THROW(records.Update(), DbError);
  records.Close();
  records.Open("SELECT id, UPPER(v) FROM t", connection, RecordSet::Keyset, RecordSet::Optimistic);
  records.SetValue(1, "b");
  EXPECT_THROW(records.Update(), DbError);
  records.MoveNext();  // moving on drops the refused assignment
  EXPECT_EQ(db.column("SELECT v FROM t")[0], "a");
}

TEST_F(RowUpdateTest, UpdatesWhileTheRestStillStreams) {
  db.exec(
      "CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(10));"
      "INSERT INTO t SELECT seq, CONCAT('v', seq) FROM seq_1_to_5000");
  records.Open("SELECT * FROM t ORDER BY id", connection, RecordSet::Keyset, RecordSet::Optimistic);
  int row = 0;
  for (; !records.Eof(); records.MoveNext(), ++row) {
    if (row % 2 == 0) write(1, "even");
  }
  EXPECT_EQ(row, 5000);
  EXPECT_EQ(db.column("SELECT COUNT(*) FROM t WHERE v = 'even'")[0], "2500");
}
