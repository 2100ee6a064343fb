#include "QtDialogs.h"

#include <gtest/gtest.h>

#include "../support/QStringPrinting.h"

TEST(QtDialogs, EveryKindOfLineEndShowsAsOneBreak) {
  EXPECT_EQ(DisplayedText("a\r\nb\rc\nd"), "a\nb\nc\nd");
  EXPECT_EQ(DisplayedText("a\r\rb"), "a\n\nb");
  EXPECT_EQ(DisplayedText("a\n\r\nb"), "a\n\nb");
}
