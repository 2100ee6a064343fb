#include "ListViewWidget.h"

#include <gtest/gtest.h>

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
