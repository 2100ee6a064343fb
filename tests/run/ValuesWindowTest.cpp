// The values window: a field's distinct values counted on the server by their bytes,
// paged, sorted and filtered there.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include "PreviewWindow.h"
#include "RunTesting.h"
#include "ValuesWindow.h"

namespace {

class ValuesWindowTest : public RunTest {
 protected:
  static QStringList column(const ValuesWindow& window, int column) {
    QStringList texts;
    const QAbstractItemModel* model = window.valueList->model();
    for (int row = 0; row < model->rowCount(); ++row) {
      texts << model->index(row, column).data().toString();
    }
    return texts;
  }
  void filter(ValuesWindow& window, const QString& text, bool regex = false) {
    window.regexBox->setChecked(regex);
    window.filterBox->setText(text);
    QTest::qWait(300);  // the filter follows the typing once it pauses
  }
};

}  // namespace

TEST_F(ValuesWindowTest, ValuesAreCountedByTheirBytesAndFilteredAndSortedOnTheServer) {
  createTable("VARCHAR(20)",
              {"'Köln'", "'köln'", "'Koln'", "'Köln '", "''", "NULL", "'Köln'", "''"});
  MainWindow& form = chooseField();
  form.valuesAction->trigger();
  ValuesWindow* window = form.valuesWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->totalsText->text(), "t.v: 8 rows, 6 distinct values.");
  // Most frequent first, ties by their bytes; NULL apart from the empty text.
  EXPECT_EQ(column(*window, ValueListModel::Count), QStringList({"2", "2", "1", "1", "1", "1"}));
  EXPECT_EQ(column(*window, ValueListModel::Value),
            QStringList({"", "Köln", "NULL", "Koln", "Köln·", "köln"}));
  const QAbstractItemModel& model = *window->valueList->model();
  EXPECT_EQ(model.index(0, ValueListModel::Value).data(Qt::AccessibleTextRole), "empty text");
  EXPECT_TRUE(model.index(2, ValueListModel::Value).data(Qt::FontRole).value<QFont>().italic());

  filter(*window, "ö");
  EXPECT_EQ(column(*window, ValueListModel::Value), QStringList({"Köln", "Köln·", "köln"}))
      << "characters matched exactly";
  EXPECT_EQ(window->totalsText->text(), "t.v: 8 rows, 6 distinct values. 3 of them shown.");
  filter(*window, "^K", true);
  EXPECT_EQ(column(*window, ValueListModel::Value), QStringList({"Köln", "Koln", "Köln·"}));
  filter(*window, "(", true);
  EXPECT_TRUE(window->problemText->isVisibleTo(window));
  EXPECT_FALSE(window->problemText->text().isEmpty());

  filter(*window, "");
  window->valueList->sortByColumn(ValueListModel::Value, Qt::AscendingOrder);
  EXPECT_EQ(column(*window, ValueListModel::Value).first(), "NULL");
  window->valueList->sortByColumn(ValueListModel::Length, Qt::DescendingOrder);
  EXPECT_EQ(column(*window, ValueListModel::Value).first(), "Köln·");
  EXPECT_EQ(writes(), 0);
}

// "Edit…" gives every row of one value a new text: previewed, applied as a run, counted anew.
TEST_F(ValuesWindowTest, EditGivesEveryRowOfAValueANewTextAsARun) {
  createTable("VARCHAR(20)", {"'Köln'", "'köln'", "'Köln'", "NULL"});
  MainWindow& form = chooseField();
  form.valuesAction->trigger();
  ValuesWindow& window = *form.valuesWindow();
  window.valueList->setCurrentIndex(window.valueList->model()->index(1, ValueListModel::Value));
  EXPECT_FALSE(window.editButton->isEnabled()) << "NULL is never written";
  window.valueList->setCurrentIndex(window.valueList->model()->index(0, ValueListModel::Value));
  ASSERT_TRUE(window.editButton->isEnabled());
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  window.valueList->setFocus();
  QTest::keyClick(window.valueList, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), window.editButton) << "Tab leaves the list";
  window.editButton->click();
  EXPECT_EQ(dialogs.lastStartText, "Köln") << "the box starts with the value";
  EXPECT_EQ(form.previewWindow(), nullptr) << "a cancelled edit changes nothing";
  dialogs.clear();
  dialogs.queueAnswers({"Cologne"});
  window.editButton->click();
  EXPECT_EQ(dialogs.prompts(), QStringList({"New text for the 2 rows holding \"Köln\":"}));
  PreviewWindow* preview = form.previewWindow();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->applyButton->text(), "&Apply All 2 Changes");
  preview->applyButton->click();
  EXPECT_EQ(values(), Column({text("Cologne"), text("köln"), text("Cologne"), std::nullopt}));
  EXPECT_EQ(journalRuns().at(0).operation, "Map Values in Selected Field");
  EXPECT_EQ(column(window, ValueListModel::Value), QStringList({"Cologne", "NULL", "köln"}))
      << "counted anew";

  // "Filter Rows to This Value": the rows of exactly that value, for runs and values alike.
  window.valueList->setCurrentIndex(window.valueList->model()->index(2, ValueListModel::Value));
  window.filterRowsButton->click();
  EXPECT_EQ(form.rowCondition(), "CONVERT(`v` USING utf8mb4) COLLATE utf8mb4_bin = 'köln'");
  run(form, u"Change Selected Field to Upper Case");
  EXPECT_EQ(values(), Column({text("Cologne"), text("KÖLN"), text("Cologne"), std::nullopt}));
  db.exec("UPDATE t SET v = 'it''s \\\\' WHERE id = 1");
  form.setRowCondition(QString());
  form.valuesAction->trigger();
  ValuesWindow& again = *form.valuesWindow();
  const int quoted = int(column(again, ValueListModel::Value).indexOf("it's·\\"));
  ASSERT_GE(quoted, 0);
  again.valueList->setCurrentIndex(again.valueList->model()->index(quoted, ValueListModel::Value));
  again.filterRowsButton->click();
  run(form, u"Change Selected Field to Upper Case");
  EXPECT_EQ(values()[0], text("IT'S \\")) << "quotes and backslashes kept as typed";
}

// Pages are read as the rows are shown, in any order, far from the first.
TEST_F(ValuesWindowTest, ALongListIsReadAPageAtATime) {
  createTable("VARCHAR(20)", {});
  db.exec(
      "INSERT INTO t SELECT seq, CONCAT('v', LPAD(seq, 5, '0')) FROM seq_1_to_3000;"
      "INSERT INTO t VALUES (3001, 'v00007')");
  MainWindow& form = chooseField();
  form.valuesAction->trigger();
  ValuesWindow& window = *form.valuesWindow();
  EXPECT_EQ(window.totalsText->text(), "t.v: 3,001 rows, 3,000 distinct values.");
  const QAbstractItemModel& model = *window.valueList->model();
  ASSERT_EQ(model.rowCount(), 3000);
  EXPECT_EQ(model.index(2999, ValueListModel::Value).data(), "v03000");
  EXPECT_EQ(model.index(0, ValueListModel::Value).data(), "v00007") << "the one held twice";
  EXPECT_EQ(model.index(1500, ValueListModel::Value).data(), "v01501") << "v00007 went first";
  EXPECT_EQ(model.index(1500, ValueListModel::Count).data(), "1");
  window.valueList->sortByColumn(ValueListModel::Value, Qt::DescendingOrder);
  EXPECT_EQ(model.index(0, ValueListModel::Value).data(), "v03000");
  EXPECT_EQ(model.index(2999, ValueListModel::Value).data(), "v00001");
}
