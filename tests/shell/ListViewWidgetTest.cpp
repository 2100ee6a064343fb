#include "ListViewWidget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <stdexcept>

#include "../support/QStringPrinting.h"

TEST(ListViewWidget, AnEmptyListSelectsItsFirstEntry) {
  ListViewWidget list;
  EXPECT_EQ(list.selectedIndex(), -1);
  EXPECT_THROW(list.selectedText(), std::runtime_error);
  list.addItem("first");
  list.addItem("second");
  EXPECT_EQ(list.selectedIndex(), 0);
  list.setCurrentItem(list.topLevelItem(1));
  list.addItem("third");
  EXPECT_EQ(list.selectedText(), "second") << "adding to a filled list keeps the selection";
  list.clear();
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.selectedIndex(), -1);
}

TEST(ListViewWidget, EntriesShowOnOneLineAndKeepTheirText) {
  ListViewWidget list;
  list.addItem("a\r\nb\rc\nd\te");
  EXPECT_EQ(list.topLevelItem(0)->text(0), QStringLiteral("a↵b↵c↵d\te"));
  EXPECT_EQ(list.selectedText(), "a\r\nb\rc\nd\te");
}

class ListViewPicks : public ::testing::Test {
 protected:
  ListViewPicks() {
    for (const char* text : {"a", "b", "c"}) list.addItem(text);
    list.resize(200, 200);
    list.show();
    list.onPick = [this] { picks << list.selectedText(); };
  }
  QPoint centreOf(int row) { return list.visualItemRect(list.topLevelItem(row)).center(); }

  ListViewWidget list;
  QStringList picks;
};

TEST_F(ListViewPicks, ClicksKeysAndDragsPickProgramChangesDoNot) {
  list.addItem("d");
  list.setCurrentItem(list.topLevelItem(1));
  EXPECT_TRUE(picks.isEmpty());
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, centreOf(2));
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, centreOf(2));
  EXPECT_EQ(picks, QStringList({"c", "c"})) << "every click counts, also on the same entry";
  picks.clear();
  QTest::keyClick(&list, Qt::Key_Up);
  QTest::keyClick(&list, Qt::Key_Right);  // moves nothing
  EXPECT_EQ(picks, QStringList({"b"}));
  picks.clear();
  QTest::mousePress(list.viewport(), Qt::LeftButton, {}, centreOf(0));
  QMouseEvent drag(QEvent::MouseMove, centreOf(3), list.viewport()->mapToGlobal(centreOf(3)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list.viewport(), &drag);
  QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, centreOf(3));
  EXPECT_EQ(picks, QStringList({"d"})) << "a press on one entry and a release on another";
}
