// Whatever else a table holds, the row that a record was read from is the row written.

#include "RunTesting.h"

namespace {

class ColumnTypesTest : public RunTest {
 protected:
  // Table t, built by `sql`, with its field v chosen; then every space removed from v.
  void removeSpaces(const QString& sql) {
    db.exec(sql);
    storeWorkingProfile(db.name());
    MainWindow& form = start().mainWindow();
    clickEntry(form.tableList, entries(form.tableList).indexOf("t"));
    clickEntry(form.fieldList, entries(form.fieldList).indexOf("v"));
    dialogs.clear();
    run(form, u"Remove All Spaces in Selected Field");
  }
  Column cleaned(const QString& order) const {
    return db.column("SELECT v FROM t ORDER BY " + order);
  }
};

}  // namespace

TEST_F(ColumnTypesTest, ATableWithoutKeyFindsItsRowsWhateverTheOtherColumns) {
  removeSpaces(
      "CREATE TABLE t (n INT, v VARCHAR(20), d DECIMAL(30,10), dt DATETIME(6), ts TIMESTAMP(3) "
      "NULL, y YEAR, tm TIME(2), e ENUM('a','b c'), s SET('x','y'), j JSON, b BIT(12), "
      "f FLOAT, g DOUBLE, p POINT, i INET6, u UUID, vb VARBINARY(8), "
      "gen VARCHAR(30) AS (CONCAT(v, '!')) VIRTUAL, hidden INT INVISIBLE DEFAULT 7);"
      "INSERT INTO t (n, v, d, dt, ts, y, tm, e, s, j, b, f, g, p, i, u, vb) VALUES "
      "(1, 'a b', 12345678901234567890.0123456789, '2024-02-29 23:59:59.999999', "
      "'2024-01-01 00:00:00.125', 2155, '-838:59:59.99', 'b c', 'x,y', '{\"k\": [1, 2.5]}', "
      "b'101010101010', 0.123456789, 1e0/3e0, POINT(1.5, -2), '2001:db8::1', "
      "'123e4567-e89b-12d3-a456-426614174000', x'00ff20'),"
      "(2, 'c d', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
      "NULL, NULL, NULL)");
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(cleaned("n"), Column({text("ab"), text("cd")}));
}

TEST_F(ColumnTypesTest, ABitColumnBesideTheFieldOrAsTheKey) {
  removeSpaces(
      "CREATE TABLE t (v VARCHAR(20), o BIT(8));"
      "INSERT INTO t VALUES ('a b', b'101'), ('c d', b'0'), ('e f', NULL)");
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(cleaned("o"), Column({text("ef"), text("cd"), text("ab")}));

  db.exec("DROP TABLE t");
  removeSpaces(
      "CREATE TABLE t (k BIT(64) PRIMARY KEY, v VARCHAR(20));"
      "INSERT INTO t VALUES (b'101', 'a b'), (0xFFFFFFFFFFFFFFFF, 'c d')");
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(cleaned("k"), Column({text("ab"), text("cd")}));
}

// A FLOAT shows fewer digits than it holds: values that show alike are told apart.
TEST_F(ColumnTypesTest, AFloatingPointKeyFindsItsRow) {
  removeSpaces(
      "CREATE TABLE t (k FLOAT PRIMARY KEY, v VARCHAR(20));"
      "INSERT INTO t VALUES (0.1, 'a b'), (0.1234561, 'c d'), (0.1234564, 'e f'), "
      "(-3.4e38, 'g h'), (1.4e-45, 'i j'), (0, 'k l'), (16777216, 'm n')");
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(cleaned("k"), Column({text("gh"), text("kl"), text("ij"), text("ab"), text("cd"),
                                  text("ef"), text("mn")}));

  db.exec("DROP TABLE t");
  removeSpaces(
      "CREATE TABLE t (k DOUBLE PRIMARY KEY, v VARCHAR(20));"
      "INSERT INTO t VALUES (1e-1 + 2e-1, 'a b'), (1e0/3e0, 'c d'), (-1.7976931348623157e308, "
      "'e f')");
  EXPECT_EQ(dialogs.messages(), QStringList());
  EXPECT_EQ(cleaned("k"), Column({text("ef"), text("ab"), text("cd")}));
}
