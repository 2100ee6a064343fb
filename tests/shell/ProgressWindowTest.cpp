// The progress window on its own: what Stop says, and texts that read well when they wrap.

#include "ProgressWindow.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "../support/QStringPrinting.h"

TEST(ProgressWindow, StopSaysWhenTheRunWillStop) {
  ProgressWindow window(nullptr);
  RunProgress progress(100);
  bool stopAsked = false;
  RunDescription run{"t", "f", "Remove Tabs in Selected Field"};
  run.stopping = QStringLiteral("Stopping after this chunk (up to 20,000 records)…");
  window.runStarted(run, progress, [&] { stopAsked = true; });
  QTest::mouseClick(window.stopButton, Qt::LeftButton);
  EXPECT_TRUE(stopAsked);
  EXPECT_EQ(window.rateText->text(), "Stopping after this chunk (up to 20,000 records)…");
  EXPECT_FALSE(window.stopButton->isEnabled());
}

TEST(RunTexts, CountsAgreeWithTheirNounsAndUnitsStayWithTheirNumbers) {
  EXPECT_EQ(CountedText(1, "null", "nulls"), "1 null");
  EXPECT_EQ(CountedText(0, "null", "nulls"), "0 nulls");
  EXPECT_EQ(CountedText(2000, "row", "rows"), "2,000 rows");
  EXPECT_EQ(WithUnitsKept("Finished in 2 s, or 1 min 3 s; 4 records"),
            u"Finished in 2\u00A0s, or 1\u00A0min 3\u00A0s; 4 records"_qs);
}
