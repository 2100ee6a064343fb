// The features on PostgreSQL: a column's values counted by their bytes, paged, filtered and
// turned into a row condition, and its clusters.
#include <gtest/gtest.h>

#include <QStringList>

#include "../../support/QStringPrinting.h"
#include "ColumnClusters.h"
#include "Connection.h"
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
