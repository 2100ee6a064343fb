// The features on PostgreSQL: a column's values counted by their bytes, paged, filtered and
// turned into a row condition, and its clusters.
#include <gtest/gtest.h>

#include <QStringList>

#include "../../support/QStringPrinting.h"
#include "ColumnClusters.h"
#include "Connection.h"
#include "DatabaseScan.h"
#include "PgTestServer.h"
#include "RowCondition.h"
#include "ValueList.h"

namespace {

class PgFeaturesTest : public testing::Test {
 protected:
  void SetUp() override {
    db.exec(
        "CREATE COLLATION ci (provider = icu, locale = 'und-u-ks-level2', deterministic = false);"
        "CREATE TABLE t (id int PRIMARY KEY, v text COLLATE ci, c char(4));"
        "INSERT INTO t VALUES (1, 'Köln', 'ab'), (2, 'köln', 'ab'), (3, 'Köln', NULL),"
        "(4, NULL, 'ab  '), (5, '', 'x'), (6, 'it''s \\\\', 'x')");
  }
  PgScratchDatabase db;
};

QStringList shown(ValueList& list) {
  QStringList texts;
  for (qint64 row = 0; row < list.shown(); ++row) {
    const ValueCount& counted = list.at(row);
    texts << QStringLiteral("%1 %2")
                 .arg(counted.rows)
                 .arg(counted.value ? QString::fromUtf8(*counted.value) : QStringLiteral("NULL"));
  }
  return texts;
}

}  // namespace

TEST_F(PgFeaturesTest, ValuesAreCountedByTheirBytesWhateverTheCollationSays) {
  ValueList list;
  list.count(db.connectionString(), "t", "v");
  EXPECT_EQ(list.totals().rows, 6);
  EXPECT_EQ(list.totals().values, 5);
  EXPECT_EQ(shown(list), QStringList({"2 Köln", "1 NULL", "1 ", "1 it's \\\\", "1 köln"}));
  list.show(ValueList::Order::Count, false, QStringLiteral("ö"), false);
  EXPECT_EQ(shown(list), QStringList({"2 Köln", "1 köln"}));
  list.show(ValueList::Order::Count, false, QStringLiteral("^K"), true);
  EXPECT_EQ(shown(list), QStringList({"2 Köln"})) << "a regular expression matches case";

  // The condition for the rows holding one value finds exactly them, quotes and all.
  Connection connection;
  connection.Open(db.connectionString());
  for (const auto& [value, ids] : std::vector<std::pair<std::optional<QString>, QByteArray>>{
           {QStringLiteral("Köln"), "1,3"},
           {QStringLiteral("it's \\\\"), "6"},
           {QString(), "5"},
           {std::nullopt, "4"}}) {
    const QString condition =
        list.rowsHolding({value ? std::optional(value->toUtf8()) : std::nullopt, 0});
    EXPECT_EQ(RowConditionProblem(connection, "t", condition), QString())
        << condition.toStdString();
    EXPECT_EQ(db.column("SELECT string_agg(id::text, ',' ORDER BY id) FROM t WHERE " + condition),
              Column({ids}))
        << condition.toStdString();
  }
}

TEST_F(PgFeaturesTest, CharColumnsAreCountedAsReadAndClustered) {
  Connection connection;
  connection.Open(db.connectionString());
  std::vector<ClusterValue> values = ValuesToCluster(connection, "t", "c", {});
  ASSERT_EQ(values.size(), 2u) << "'ab' and 'ab  ' read alike, padded; NULL left out";
  EXPECT_EQ(values[0].value, "ab  ");
  EXPECT_EQ(values[0].rows, 3);
  const std::vector<ValueCluster> clusters =
      *ClusterValues(ValuesToCluster(connection, "t", "v", {}), {});
  ASSERT_EQ(clusters.size(), 1u);
  EXPECT_EQ(clusters[0].suggested, "Köln");
  EXPECT_EQ(clusters[0].rows, 3);
}

// The scan counts on the server, whatever the column's collation; char(n)'s padding is no dirt.
TEST_F(PgFeaturesTest, TheScanCountsEachKindOnTheServer) {
  db.exec(
      "CREATE TABLE d (id int PRIMARY KEY, a text COLLATE ci, b char(8), n int);"
      "INSERT INTO d VALUES (1, ' lead', 'ok', 1), (2, 'trail ', ' x', 2), (3, 'a  b', NULL, 3),"
      "(4, E'tab\\there', 'y', 4), (5, E'line\\nbreak', 'z', 5), (6, U&'no\\00A0break', 'w', 6),"
      "(7, U&'em\\2003space', 'v', 7), (8, U&'zero\\200Bwidth', 'u', 8), (9, E'bell\\x07', 't', 9),"
      "(10, NULL, 's', 10)");
  Connection connection;
  connection.Open(db.connectionString());
  const std::vector<ColumnFindings> found = ScanTable(connection, "d", 0, 0);
  ASSERT_EQ(found.size(), 2u) << "text columns only";
  EXPECT_EQ(found[0].column, "a");
  EXPECT_EQ(found[0].rows, 10);
  EXPECT_EQ(found[0].nulls, 1);
  EXPECT_EQ(found[0].counts, (std::array<qint64, DirtKindCount>{1, 1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(found[1].counts, (std::array<qint64, DirtKindCount>{1, 0, 0, 0, 0, 0, 0, 0, 0}))
      << "char(8) is padded, not trailing spaces";
  const std::vector<DirtExample> examples = DirtExamples(connection, "d", "a", DirtKind::Tabs, 5);
  ASSERT_EQ(examples.size(), 1u);
  EXPECT_EQ(examples[0].key, "id = 4");
  EXPECT_EQ(examples[0].value, "tab\there");
  EXPECT_EQ(ScanTable(connection, "d", 3, 0)[0].rows, 3) << "a sample";
}
