// The record layer on PostgreSQL: rows read as their bytes, and a value written only where
// the row still holds, byte for byte, what was read.
#include <gtest/gtest.h>

#include <QScopeGuard>
#include <functional>

#include "../../support/QStringPrinting.h"
#include "Connection.h"
#include "ConnectionFailure.h"
#include "DbError.h"
#include "GroupedWriter.h"
#include "PgGroupedWriter.h"
#include "PgTestServer.h"
#include "RecordSet.h"

namespace {

class PgRecordLayerTest : public testing::Test {
 public:
  void SetUp() override { connection.Open(db.connectionString()); }

  std::unique_ptr<RecordSet> opened(const QString& statement) {
    auto records = std::make_unique<RecordSet>();
    records->Open(statement, connection, RecordSet::Static, RecordSet::Optimistic);
    return records;
  }
  // Moves to the row whose first field is `id`.
  static void moveTo(RecordSet& records, const QString& id) {
    while (!records.Eof() && records.Value(0) != id) records.MoveNext();
    ASSERT_FALSE(records.Eof()) << id.toStdString();
  }
  static std::optional<QByteArray> text(const char* value) { return QByteArray(value); }

  PgScratchDatabase db;
  Connection connection;
};

}  // namespace

TEST_F(PgRecordLayerTest, ValuesAreReadAndWrittenByteForByte) {
  db.exec(
      "CREATE TABLE t (id int PRIMARY KEY, v text, c char(5), b bytea);"
      "INSERT INTO t VALUES (1, 'Zoë  ', 'ab', '\\x00ff'), (2, NULL, NULL, NULL), (3, '', 'x', "
      "'')");
  const auto records = opened("SELECT * FROM t ORDER BY id");
  EXPECT_EQ(records->Fields().count(), 4);
  EXPECT_EQ(records->Fields().at(1).column, "v");
  EXPECT_EQ(records->Fields().at(1).table, "t");
  EXPECT_EQ(records->Fields().at(1).database, "public");
  EXPECT_TRUE(records->Fields().at(3).binary);
  EXPECT_EQ(records->Value(1), QStringLiteral("Zoë  "));
  EXPECT_EQ(records->Value(2), QStringLiteral("ab   ")) << "char(n) as read, padded";
  EXPECT_EQ(records->RawValue(3), QByteArrayView("\x00\xff", 2));
  records->SetValue(1, QStringLiteral("Zoë"));
  records->SetValue(2, QStringLiteral("cd"));
  records->Update();
  records->MoveNext();
  EXPECT_EQ(records->Value(1), std::nullopt);
  records->SetValue(1, QStringLiteral("was null"));
  records->Update();
  records->MoveNext();
  records->SetValue(3, QString::fromLatin1("\x01\x80", 2));
  records->Update();
  records->MoveNext();
  EXPECT_TRUE(records->Eof());
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"),
            Column({text("Zoë"), text("was null"), text("")}));
  EXPECT_EQ(db.column("SELECT c FROM t ORDER BY id"),
            Column({text("cd   "), std::nullopt, text("x    ")}));
  EXPECT_EQ(db.column("SELECT encode(b, 'hex') FROM t ORDER BY id"),
            Column({text("00ff"), std::nullopt, text("0180")}));
}

// Under a collation that calls "a" and "A" equal, a row whose value went from "a" to "A"
// meanwhile has still changed: it is not written.
TEST_F(PgRecordLayerTest, ARowChangedSinceItWasReadIsNotWrittenWhateverTheCollationSays) {
  db.exec(
      "CREATE COLLATION ci (provider = icu, locale = 'und-u-ks-level2', deterministic = false);"
      "CREATE TABLE t (id int PRIMARY KEY, v text COLLATE ci);"
      "INSERT INTO t VALUES (1, 'a'), (2, 'b')");
  EXPECT_EQ(db.column("SELECT count(*) FROM t WHERE v = 'A'"), Column({text("1")}))
      << "the collation calls them equal";
  const auto records = opened("SELECT * FROM t ORDER BY id");
  db.exec("UPDATE t SET v = 'A' WHERE id = 1");
  records->SetValue(1, QStringLiteral("x"));
  try {
    records->Update();
    FAIL() << "written over another's change";
  } catch (const DbError& failure) {
    EXPECT_EQ(QString::fromUtf8(failure.what()), DbMessages::RowNotLocated);
  }
  records->CancelUpdate();
  records->MoveNext();
  db.exec("DELETE FROM t WHERE id = 2");
  records->SetValue(1, QStringLiteral("y"));
  EXPECT_THROW(records->Update(), DbError) << "a row gone is not written either";
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"), Column({text("A")}));
}

// Without a key, a row is found by all its values; of rows alike, exactly one is written.
TEST_F(PgRecordLayerTest, InATableWithoutAKeyOneOfTwinRowsIsWritten) {
  db.exec("CREATE TABLE t (v text, n int); INSERT INTO t VALUES ('a b', 1), ('a b', 1), ('c', 2)");
  const auto records = opened("SELECT * FROM t");
  EXPECT_TRUE(records->IdentityColumns().columns == QByteArrayList({"v", "n"}));
  EXPECT_FALSE(records->IdentityColumns().keyed);
  records->SetValue(0, QStringLiteral("ab"));
  records->Update();
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY v"), Column({text("a b"), text("ab"), text("c")}));
}

// A statement the server refuses, or a login it refuses, is one clear failure.
TEST_F(PgRecordLayerTest, FailuresComeInTheServersWords) {
  try {
    opened("SELECT * FROM missing");
    FAIL();
  } catch (const DbError& failure) {
    EXPECT_EQ(failure.sqlState(), "42P01");
    EXPECT_TRUE(QString::fromUtf8(failure.what()).contains("\"missing\" does not exist"));
  }
  Connection wrong;
  try {
    wrong.Open(QString(db.connectionString())
                   .replace(QStringLiteral("PASSWORD="), QStringLiteral("PASSWORD=not")));
    FAIL();
  } catch (const DbError& failure) {
    EXPECT_TRUE(QString::fromUtf8(failure.what()).contains("password authentication failed"))
        << failure.what();
    EXPECT_TRUE(ConnectionFailureText(failure).endsWith(
        "\r\rThe user name or the password is wrong, or this user may not log in from this "
        "computer."))
        << ConnectionFailureText(failure).toStdString();
  }
  try {
    wrong.Open(
        QString(db.connectionString())
            .replace(QStringLiteral("SERVER=127.0.0.1"), QStringLiteral("SERVER=nowhere.invalid")));
    FAIL();
  } catch (const DbError& failure) {
    EXPECT_TRUE(ConnectionFailureText(failure).endsWith(
        "No computer of that name was found: check the server name."))
        << failure.what();
  }
  try {
    wrong.Open(QString(db.connectionString())
                   .replace(QStringLiteral("DATABASE="), QStringLiteral("DATABASE=no_such_")));
    FAIL();
  } catch (const DbError& failure) {
    EXPECT_EQ(failure.cause(), DbError::Cause::UnknownDatabase);
  }
}

// Reads t afresh, queues `value(record)` for each row's v, has `meanwhile` change the table,
// then flushes, telling each result to `told`; its answer goes on or stops.
static std::vector<GroupedWriter::Result> writtenInAChunk(
    PgRecordLayerTest& test, Connection& writes, const std::function<QString(qint64)>& value,
    const QString& meanwhile,
    const std::function<bool(GroupedWriter::Result)>& goOn =
        [](GroupedWriter::Result) { return true; },
    WriteObserver* observer = nullptr) {
  const auto records = test.opened("SELECT * FROM t ORDER BY id");
  records->WriteThrough(writes);
  const std::unique_ptr<GroupedWriter> grouped = records->GroupedWrites(1);
  EXPECT_NE(grouped, nullptr);
  for (qint64 record = 0; !records->Eof(); ++record, records->MoveNext()) {
    records->SetValue(1, value(record));
    records->StageUpdate(*grouped, record);
  }
  test.db.exec(meanwhile);
  std::vector<GroupedWriter::Result> told;
  grouped->flush(observer,
                 [&](qint64, int, GroupedWriter::Result result, const DbError*, const QByteArray&) {
                   told.push_back(result);
                   return goOn(result);
                 });
  return told;
}

// Grouped writes: the rows that still stand as read are written in one chunk; one changed
// since is told NotFound, and a value the column refuses is told on its own. A caller that
// stops at a row told finds none after it written.
TEST_F(PgRecordLayerTest, AChunkWritesTheRowsThatStillStandAndTellsTheOthersApart) {
  db.exec(
      "CREATE TABLE t (id int PRIMARY KEY, v varchar(4));"
      "INSERT INTO t SELECT g, 'a b' FROM generate_series(1, 6) g");
  Connection writes;
  writes.Open(db.connectionString());
  using R = GroupedWriter::Result;
  // The refused value made the chunk go row by row: each row is told as it stands.
  EXPECT_EQ(
      writtenInAChunk(
          *this, writes,
          [](qint64 record) { return record == 4 ? QStringLiteral("toolong") : "ab"; },
          "UPDATE t SET v = 'xyz' WHERE id = 2"),
      (std::vector<R>{R::Written, R::NotFound, R::Written, R::Written, R::Refused, R::Written}));
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"),
            Column({text("ab"), text("xyz"), text("ab"), text("ab"), text("a b"), text("ab")}));

  db.exec("UPDATE t SET v = 'a b'");
  EXPECT_EQ(
      writtenInAChunk(
          *this, writes, [](qint64) { return QStringLiteral("c d"); },
          "UPDATE t SET v = 'zz' WHERE id = 6"),
      (std::vector<R>{R::Written, R::Written, R::Written, R::Written, R::Written, R::NotFound}));
  EXPECT_EQ(db.column("SELECT count(*) FROM t WHERE v = 'c d'"), Column({text("5")}));

  db.exec("UPDATE t SET v = 'a b'");
  EXPECT_EQ(
      writtenInAChunk(
          *this, writes, [](qint64) { return QStringLiteral("e f"); },
          "UPDATE t SET v = 'zz' WHERE id = 3", [](R result) { return result != R::NotFound; }),
      (std::vector<R>{R::Written, R::Written, R::NotFound, R::NotWritten, R::NotWritten,
                      R::NotWritten}));
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"),
            Column({text("e f"), text("e f"), text("zz"), text("a b"), text("a b"), text("a b")}));
}

// citext calls "a b" and "A B" equal; the check does not: a value changed in case meanwhile
// is left, in a chunk as on its own.
TEST_F(PgRecordLayerTest, ACitextValueChangedOnlyInCaseHasChanged) {
  db.exec(
      "CREATE EXTENSION IF NOT EXISTS citext; CREATE TABLE t (id int PRIMARY KEY, v citext);"
      "INSERT INTO t VALUES (1, 'a b'), (2, 'c d')");
  Connection writes;
  writes.Open(db.connectionString());
  using R = GroupedWriter::Result;
  EXPECT_EQ(writtenInAChunk(
                *this, writes, [](qint64) { return QStringLiteral("x"); },
                "UPDATE t SET v = 'A B' WHERE id = 1"),
            (std::vector<R>{R::NotFound, R::Written}));
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"), Column({text("A B"), text("x")}));
  const auto records = opened("SELECT * FROM t ORDER BY id");
  db.exec("UPDATE t SET v = 'X' WHERE id = 2");
  records->MoveNext();
  records->SetValue(1, QStringLiteral("y"));
  EXPECT_THROW(records->Update(), DbError);
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"), Column({text("A B"), text("X")}));
}

// What a journal is told of a chunk: its entries, then how they settled.
struct ToldJournal : WriteObserver {
  void aboutToWrite(const RowChange& change) override {
    entries << QString::fromUtf8(change.after.value_or("NULL"));
  }
  void settled(WriteSettled how, const std::optional<QByteArray>*) override {
    settles << how;
    if (how != WriteSettled::Written) entries.clear();  // not written: forgotten
  }
  QStringList entries;
  QList<WriteSettled> settles;
};

// Over a network, a chunk commits in the round trip that writes it, its entries kept first,
// when every row stood as read; else it is written the other way, which tells them apart.
TEST_F(PgRecordLayerTest, AChunkCommittedWithItsWriteKeepsEveryRowOrNone) {
  PgGroupedWriter::committingAsOverANetwork = true;
  const auto restored = qScopeGuard([] { PgGroupedWriter::committingAsOverANetwork = false; });
  db.exec(
      "CREATE TABLE t (id int PRIMARY KEY, v text);"
      "INSERT INTO t SELECT g, 'a b' FROM generate_series(1, 4) g");
  Connection writes;
  writes.Open(db.connectionString());
  using R = GroupedWriter::Result;
  const auto all = [](R) { return true; };
  ToldJournal journal;
  EXPECT_EQ(
      writtenInAChunk(
          *this, writes, [](qint64) { return QStringLiteral("c"); }, "SELECT 1", all, &journal),
      (std::vector<R>{R::Written, R::Written, R::Written, R::Written}));
  EXPECT_EQ(journal.entries, QStringList({"c", "c", "c", "c"}));
  EXPECT_EQ(journal.settles, QList<WriteSettled>({WriteSettled::Written}));

  db.exec("UPDATE t SET v = 'a b'");
  ToldJournal second;
  EXPECT_EQ(writtenInAChunk(
                *this, writes, [](qint64) { return QStringLiteral("d"); },
                "UPDATE t SET v = 'zz' WHERE id = 2", all, &second),
            (std::vector<R>{R::Written, R::NotFound, R::Written, R::Written}));
  EXPECT_EQ(db.column("SELECT v FROM t ORDER BY id"),
            Column({text("d"), text("zz"), text("d"), text("d")}));
  EXPECT_EQ(second.settles.first(), WriteSettled::NotWritten) << "the first attempt is undone";
}
