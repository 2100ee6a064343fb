// Whatever the server's own time zone and SQL mode, a run reads each row as it is stored and
// its undo finds that row again. Runs alone: it changes the server's global settings.

#include "RunTesting.h"

namespace {

class ServerSettingsTest : public RunTest {
 protected:
  void SetUp() override {
    saved = *db.column("SELECT CONCAT(@@GLOBAL.time_zone, '|', @@GLOBAL.sql_mode)")[0];
    ExecOnServer(
        "SET GLOBAL time_zone = 'Europe/Berlin', GLOBAL sql_mode = "
        "'PAD_CHAR_TO_FULL_LENGTH,EMPTY_STRING_IS_NULL,NO_BACKSLASH_ESCAPES,ANSI_QUOTES'");
  }
  void TearDown() override {
    const QList<QByteArray> parts = saved.split('|');
    ExecOnServer(QString("SET GLOBAL time_zone = '%1', GLOBAL sql_mode = '%2'")
                     .arg(QString::fromUtf8(parts[0]), QString::fromUtf8(parts[1])));
  }
  QByteArray saved;
};

}  // namespace

// In the hour repeated when the clocks go back, two instants read alike in local time.
TEST_F(ServerSettingsTest, AnUndoFindsItsRowsInTheRepeatedHourAndUnderAnyMode) {
  db.exec(
      "SET time_zone = '+00:00';"
      "CREATE TABLE t (v VARCHAR(20), c CHAR(4), ts TIMESTAMP NULL);"
      "INSERT INTO t VALUES ('a b', 'x', '2026-10-25 00:30:00'), "
      "(' ab', 'x', '2026-10-25 01:30:00'), (' ', 'y', '2026-10-25 03:00:00')");
  const auto contents = [&] {
    return db.column(
        "SET time_zone = '+00:00', sql_mode = ''; SELECT CONCAT_WS('|', ts, QUOTE(v), c) FROM t "
        "ORDER BY ts");
  };
  const Column before = contents();
  storeWorkingProfile(db.name());
  MainWindow& form = start().mainWindow();
  clickEntry(form.tableList, entries(form.tableList).indexOf("t"));
  clickEntry(form.fieldList, 0);
  dialogs.clear();
  run(form, u"Remove All Spaces in Selected Field");
  EXPECT_EQ(contents(),
            Column({text("2026-10-25 00:30:00|'ab'|x"), text("2026-10-25 01:30:00|'ab'|x"),
                    text("2026-10-25 03:00:00|''|y")}))
      << "an emptied value stays empty text";
  // The first row moves behind the second, so that reading order tells them apart no more.
  db.exec(
      "CREATE TEMPORARY TABLE moved SELECT * FROM t WHERE v = 'ab' LIMIT 1;"
      "DELETE FROM t WHERE v = 'ab' LIMIT 1; INSERT INTO t SELECT * FROM moved");
  form.undoRun(journalRuns().at(0).id);
  EXPECT_EQ(contents(), before);
  EXPECT_EQ(dialogs.messages(), QStringList());
}
