#pragma once

// What the run tests share: a table t (id, v) with a count of the writes that reached
// it, the main window with its field v chosen, and a run started as the user does.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include "../support/QStringPrinting.h"
#include "ErrorReport.h"
#include "Journal.h"
#include "ListViewWidget.h"
#include "MainWindow.h"
#include "OperationCatalogue.h"
#include "ProgressWindow.h"
#include "RunProgress.h"
#include "WindowTesting.h"

inline std::optional<QByteArray> text(const char* value) {
  return QByteArray(value);
}

class RunTest : public testing::Test, public WindowTest {
 protected:
  // A table t (id, v) holding `values`, with a count of the rows that updates found.
  void createTable(const QString& columns, const QStringList& values) {
    QString rows;
    for (const QString& value : values) {
      rows +=
          (rows.isEmpty() ? "(" : ",(") + QString::number(rows.count('(') + 1) + ", " + value + ")";
    }
    db.exec("CREATE TABLE t (id INT PRIMARY KEY, v " + columns + ");" +
            (values.isEmpty() ? QString() : "INSERT INTO t VALUES " + rows + ";") +
            "CREATE TABLE writes (n INT); INSERT INTO writes VALUES (0);"
            "CREATE TRIGGER counted AFTER UPDATE ON t FOR EACH ROW UPDATE writes SET n = n + 1");
  }
  // The main window with table t and its field v chosen.
  MainWindow& chooseField() {
    storeWorkingProfile(db.name());
    MainWindow& form = start().mainWindow();
    clickEntry(form.tableList, entries(form.tableList).indexOf("t"));
    clickEntry(form.fieldList, 1);
    dialogs.clear();
    return form;
  }
  void run(MainWindow& form, QStringView caption, const QStringList& answers = {}) {
    form.operationBox->setCurrentIndex(FindOperation(caption)->position);
    dialogs.queueAnswers(answers);
    QTest::mouseClick(form.startButton, Qt::LeftButton);
  }
  Column values() const { return db.column("SELECT v FROM t ORDER BY id"); }
  // Presses Stop, as the user does, when the journal is about to keep its `n`th write.
  void stopAtJournalWrite(MainWindow& form, int n) {
    form.journal()->setWriteHook([&form, n, writes = 0]() mutable {
      if (++writes != n) return;
      QMetaObject::invokeMethod(
          &form, [&form] { QTest::mouseClick(form.progressWindow().stopButton, Qt::LeftButton); },
          Qt::BlockingQueuedConnection);
    });
  }
  // What the journal holds now, as another program would find it.
  std::vector<JournalRun> journalRuns() const { return Journal(Journal::defaultPath()).runs(); }
  std::vector<JournalEntry> journalEntries(qint64 run) const {
    std::vector<JournalEntry> entries;
    Journal(Journal::defaultPath()).forEachEntry(run, [&](const JournalEntry& entry) {
      entries.push_back(entry);
    });
    return entries;
  }
  int writes() const { return db.column("SELECT n FROM writes")[0]->toInt(); }
  // `record` (1-based) names the record of table t that a report of the record loop is
  // about, found by its key id.
  QString report(const QString& description, int line, int record = 0) const {
    return ErrorReportText(
        description, QStringLiteral("Klarifeld2021/08/31.Form2.PushButton2_Click"), line,
        record ? QString("Record %1 (id = %2).").arg(CountText(record)).arg(record) : QString());
  }
  QStringList reports(const QString& description, int line, const QList<int>& records) const {
    QStringList texts;
    for (int record : records) texts << report(description, line, record);
    return texts;
  }
};
