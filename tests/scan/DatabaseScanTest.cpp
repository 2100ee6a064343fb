// The scan counts each kind of dirt on the server, in every text column, whatever the
// column's type and character set.

#include "DatabaseScan.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "../db/FakeServer.h"
#include "../support/QStringPrinting.h"
#include "Connection.h"
#include "ConnectionString.h"
#include "OperationCatalogue.h"
#include "TestServer.h"

namespace {

std::array<qint64, DirtKindCount> counts(std::initializer_list<std::pair<DirtKind, qint64>> given) {
  std::array<qint64, DirtKindCount> all{};
  for (const auto& [kind, count] : given) all[size_t(kind)] = count;
  return all;
}

}  // namespace

TEST(DatabaseScan, CountsEveryKindInEveryTextColumn) {
  ScratchDatabase db;
  db.exec(
      "CREATE TABLE people (id INT PRIMARY KEY, n INT, name VARCHAR(40), code CHAR(6), "
      "note TEXT, old VARCHAR(20) CHARACTER SET latin1, raw BLOB);"
      "INSERT INTO people VALUES "
      "(1, 1, ' Ann  Lee ', ' ab  ', 'a\\tb\\r\\nc', 'caf\\xE9 ', 'x y'),"
      "(2, 2, NULL, 'ok', CONCAT('no', _utf8mb4 X'C2A0', 'break'), CONCAT('a', CHAR(160), 'b'),"
      " ' '),"
      "(3, 3, CONCAT('thin', _utf8mb4 X'E28089', 'ideo', _utf8mb4 X'E38080'), '', "
      " CONCAT('zw', _utf8mb4 X'E2808B', 'bom', _utf8mb4 X'EFBBBF'), NULL, NULL),"
      "(4, 4, CONCAT('bell', CHAR(7), 'c1', _utf8mb4 X'C285', '😀'), NULL, '', 'plain', NULL)");
  Connection connection;
  connection.Open(db.connectionString());
  const std::vector<ColumnFindings> found = ScanTable(connection, "people");
  QStringList scanned;
  for (const ColumnFindings& column : found) scanned << column.column;
  ASSERT_EQ(scanned, QStringList({"name", "code", "note", "old"})) << "the text columns only";
  using K = DirtKind;
  EXPECT_EQ(found[0].rows, 4);
  EXPECT_EQ(found[0].nulls, 1);
  EXPECT_EQ(found[0].counts, counts({{K::LeadingSpaces, 1},
                                     {K::TrailingSpaces, 1},
                                     {K::DoubleSpaces, 1},
                                     {K::OtherSpaces, 1},
                                     {K::ControlCharacters, 1}}));
  // A CHAR column's values as the server gives them: trailing spaces already gone.
  EXPECT_EQ(found[1].counts, counts({{K::LeadingSpaces, 1}}));
  EXPECT_EQ(found[2].counts,
            counts({{K::Tabs, 1}, {K::LineBreaks, 1}, {K::NoBreakSpaces, 1}, {K::ZeroWidth, 1}}));
  // latin1 is read as its characters: é is no control character, the no-break space is one.
  EXPECT_EQ(found[3].nulls, 1);
  EXPECT_EQ(found[3].counts, counts({{K::TrailingSpaces, 1}, {K::NoBreakSpaces, 1}}));
  EXPECT_TRUE(ScanTable(connection, "people").size() == 4) << "a scan writes nothing";
  // Counts shared by one sum come apart as they went in.
  for (int kindsPerSum : {1, 2, 3}) {
    const std::vector<ColumnFindings> again = ScanTable(connection, "people", 0, kindsPerSum);
    ASSERT_EQ(again.size(), found.size());
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(again[i].counts, found[i].counts) << kindsPerSum << " kinds a sum";
      EXPECT_EQ(again[i].nulls, found[i].nulls);
    }
  }

  // A sample reads the first rows only.
  const std::vector<ColumnFindings> sample = ScanTable(connection, "people", 1);
  EXPECT_EQ(sample[0].rows, 1);
  EXPECT_EQ(sample[0].counts[size_t(K::OtherSpaces)], 0);
  EXPECT_EQ(sample[0].counts[size_t(K::LeadingSpaces)], 1);

  // Examples name their row by its key; a latin1 value comes back as its characters.
  const std::vector<DirtExample> spaces =
      DirtExamples(connection, "people", "old", K::NoBreakSpaces);
  ASSERT_EQ(spaces.size(), 1u);
  EXPECT_EQ(spaces[0].key, "id = 2");
  EXPECT_EQ(spaces[0].value, QString("a") + QChar(0xA0) + "b");
  EXPECT_EQ(DirtExamples(connection, "people", "name", K::LeadingSpaces, 3).size(), 1u);
  db.exec(
      "CREATE TABLE loose (v TEXT); INSERT INTO loose VALUES ('a\tb'), ('c\t'), ('\t'), ('\td')");
  const std::vector<DirtExample> three = DirtExamples(connection, "loose", "v", K::Tabs);
  ASSERT_EQ(three.size(), 3u) << "three at most";
  EXPECT_EQ(three[0].key, "") << "no key to name";
}

// A table this big is counted in two halves of its key at once, on two connections.
TEST(DatabaseScan, ABigTableCountedInHalvesSideBySideAddsUpAndStopsAtOnce) {
  ScratchDatabase db;
  db.exec(
      "CREATE TABLE big (id BIGINT PRIMARY KEY, a VARCHAR(30), b TEXT);"
      "INSERT INTO big SELECT seq, IF(seq % 3 = 0, CONCAT(' x', seq), CONCAT('x', seq)), "
      "CONCAT('y', seq, IF(seq % 5 = 0, '\t', '')) FROM seq_1_to_300000;"
      // The ends of the key's type: halving its range would leave it.
      "INSERT INTO big VALUES (-9223372036854775808, ' low', 'a  b'), "
      "(9223372036854775807, ' high', NULL);"
      "ANALYZE TABLE big");
  Connection connection;
  connection.CommandTimeout = 0;
  connection.Open(db.connectionString());
  using K = DirtKind;
  const std::vector<ColumnFindings> found = ScanTable(connection, "big");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].rows, 300'002);
  EXPECT_EQ(found[0].counts, counts({{K::LeadingSpaces, 100'002}}));
  EXPECT_EQ(found[1].nulls, 1);
  EXPECT_EQ(found[1].counts, counts({{K::Tabs, 60'000}, {K::DoubleSpaces, 1}}));

  // A user allowed one connection has the halves counted one after the other.
  ExecOnServer(QStringLiteral("DROP USER IF EXISTS 'single'@'%'; CREATE USER 'single'@'%' "
                              "IDENTIFIED BY 'p' WITH MAX_USER_CONNECTIONS 1; GRANT SELECT ON "
                              "`%1`.* TO 'single'@'%'")
                   .arg(db.name()));
  {
    const TestServer& server = TestServer::get();
    Connection single;
    single.CommandTimeout = 0;
    single.Open(BuildConnectionString(server.host, "single", "p", db.name(), server.port));
    const std::vector<ColumnFindings> alone = ScanTable(single, "big");
    ASSERT_EQ(alone.size(), 2u);
    EXPECT_EQ(alone[0].counts, found[0].counts);
    EXPECT_EQ(alone[1].counts, found[1].counts);
  }
  ExecOnServer("DROP USER 'single'@'%'");

  // The key's middle is -1: the first half, on the scan's own connection, is done at
  // once, and Stop reaches the other half on its companion.
  const auto scanning = [&](const char* half = "") {
    return Database(db.name())
        .column(QStringLiteral("SELECT SUM(INFO LIKE 'SELECT COUNT(*), COUNT(%%1') FROM "
                               "information_schema.PROCESSLIST WHERE COMMAND = 'Query'")
                    .arg(half))
        .at(0)
        .value_or("0")
        .toInt();
  };
  auto scan = std::async(std::launch::async, [&] { return ScanTable(connection, "big", 0, 1); });
  while (scanning("WHERE `id` > -1") == 0) {
    ASSERT_NE(scan.wait_for(std::chrono::milliseconds(5)), std::future_status::ready);
  }
  connection.Cancel();
  EXPECT_THROW(scan.get(), DbError);
  // The server lists a statement for a moment after its failure was sent.
  for (int tries = 0; tries < 100 && scanning() > 0; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(scanning(), 0) << "no half left counting";
}

TEST(DatabaseScan, EachKindHasAnOperationThatExists) {
  for (DirtKind kind : DirtKinds) {
    const CleaningSuggestion suggestion = SuggestionFor(kind);
    EXPECT_NE(FindOperationByName(suggestion.operation), nullptr)
        << suggestion.operation.toStdString();
  }
  EXPECT_EQ(SuggestionFor(DirtKind::TrailingSpaces).operation, "remove-extra-spaces-at-end");
  EXPECT_EQ(SuggestionFor(DirtKind::ZeroWidth).operation, "remove-invisible");
  EXPECT_EQ(DirtKindName(DirtKind::ControlCharacters), "control-characters");
}

// A reply that no real server gives, to the count or to the estimate of a table's rows, is
// one clear failure of the scan, never a crash or a scan that silently found nothing.
TEST(DatabaseScan, AReplyOfTheWrongShapeIsOneClearFailure) {
  for (const QByteArray& count : {QByteArray("5"), QByteArray("x")}) {
    const ScriptedServer server([&](const QByteArray& statement) -> ScriptedServer::Reply {
      if (statement.contains("information_schema.COLUMNS")) {
        return {{"COLUMN_NAME", "CHARACTER_SET_NAME"}, {{"v", "utf8mb4"}}};
      }
      if (statement.contains("SUM(TABLE_ROWS)")) {
        return {{"SUM(TABLE_ROWS)"}, {{"9223372036854775807"}}};  // near 2^63
      }
      if (statement.startsWith("SELECT COUNT(*)")) return {{"COUNT(*)"}, {{count}}};
      return {};
    });
    Connection connection;
    connection.Open(BuildConnectionString("127.0.0.1", "ann", "pw", "shop", server.port(),
                                          Encryption::Preferred, {}));
    try {
      ScanTable(connection, "t");
      ADD_FAILURE() << "the reply " << count.toStdString() << " was taken";
    } catch (const DbError& failure) {
      EXPECT_TRUE(QString::fromUtf8(failure.what()).startsWith("The server answered"))
          << failure.what();
    }
  }
}
