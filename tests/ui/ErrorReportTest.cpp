#include <gtest/gtest.h>

#include <QStringList>
#include <stdexcept>

#include "../support/QStringPrinting.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "ReportingProcedure.h"
#include "ScriptedDialogs.h"

TEST(ErrorReport, TextIsDescriptionLocationLineAndRequest) {
  EXPECT_EQ(ErrorReportText("Table 'x.y' doesn't exist",
                            "Klarifeld2021/08/31.Form1.PushButton3_Click", 102),
            "Table 'x.y' doesn't exist\r\n"
            "in Klarifeld2021/08/31.Form1.PushButton3_Click at line 102\r\r"
            "Please email screenshot of this message to support@orvanta.example");
  // An empty description still leaves its (empty) first line.
  EXPECT_TRUE(ErrorReportText("", "T", 100).startsWith("\r\nin T at line 100\r\r"));
}

TEST(ErrorReport, IsAWarningTitledApplicationError) {
  ScriptedDialogs dialogs;
  dialogs.setApplicationTitle("Klarifeld");
  ShowErrorReport(dialogs, "Overflow", "Klarifeld2021/08/31.Form2.PushButton2_Click", 562);
  ASSERT_EQ(dialogs.shown().size(), 1u);
  EXPECT_EQ(dialogs.shown()[0].title, "Application Error");
  EXPECT_EQ(dialogs.shown()[0].icon, BoxIcon::Warning);
  EXPECT_EQ(dialogs.shown()[0].kind, ShownBox::Kind::Message);
}

TEST(ApplicationTitle, CutsAtTheLastBlankThenWhileLongerThan40) {
  EXPECT_EQ(ApplicationTitleOf("Klarifeld"), "Klarifeld");
  EXPECT_EQ(ApplicationTitleOf("Klarifeld Column Cleaner"), "Klarifeld Column");
  EXPECT_EQ(ApplicationTitleOf("A"), "A");
  // 45 characters before the last word: cut once more.
  const QString longName = QString(20, 'a') + " " + QString(24, 'b') + " tail";
  EXPECT_EQ(ApplicationTitleOf(longName), QString(20, 'a'));
  // Nothing left to cut: the long word stays whole.
  EXPECT_EQ(ApplicationTitleOf(QString(50, 'c') + " d"), QString(50, 'c'));

  ScriptedDialogs dialogs;
  SetApplicationTitle(dialogs);
  EXPECT_EQ(dialogs.applicationTitle(), "Klarifeld");
}

TEST(ApplicationTitle, TitlesTheProgramsOwnBoxes) {
  ScriptedDialogs dialogs;
  SetApplicationTitle(dialogs);
  dialogs.queueAnswers({"typed"});
  dialogs.message("Connection successful.");
  EXPECT_EQ(dialogs.input("Replace With:"), "typed");
  EXPECT_EQ(dialogs.input("Replace With:"), "");
  const std::vector<ShownBox> expected = {
      {ShownBox::Kind::Message, "Klarifeld", "Connection successful.", BoxIcon::None},
      {ShownBox::Kind::Input, "Klarifeld", "Replace With:", BoxIcon::None},
      {ShownBox::Kind::Input, "Klarifeld", "Replace With:", BoxIcon::None}};
  EXPECT_EQ(dialogs.shown(), expected);
}

// A procedure of numbered steps in the way the windows write theirs.
TEST(ReportingProcedure, ReportsEachFailureWithItsLineAndGoesOn) {
  ScriptedDialogs dialogs;
  ReportingProcedure run(dialogs, "Klarifeld2021/08/31.Form1.Form_Load");
  QStringList done;
  run.step(100, [&] { done << "100"; });
  run.step(102, [&] { throw std::runtime_error("first"); });
  run.step(104, [&] { done << "104"; });
  if (run.test(106, [&]() -> bool { throw std::invalid_argument("test failed"); })) {
    run.step(108, [&] { done << "108 guarded"; });
  }
  if (run.test(110, [] { return false; })) run.step(112, [&] { done << "112 skipped"; });
  for (int record = 0; record < 2; ++record) {
    run.step(114, [&] { throw std::overflow_error("Overflow"); });
  }
  run.step(116, [] { throw 42; });

  EXPECT_EQ(done, QStringList({"100", "104", "108 guarded"}));
  const QString tag = "Klarifeld2021/08/31.Form1.Form_Load";
  EXPECT_EQ(
      dialogs.messages(),
      QStringList({ErrorReportText("first", tag, 102), ErrorReportText("test failed", tag, 106),
                   ErrorReportText("Overflow", tag, 114), ErrorReportText("Overflow", tag, 114),
                   ErrorReportText("Unknown error", tag, 116)}));
}

TEST(ReportingProcedure, AFailingReportIsNotReportedAgain) {
  struct BrokenDialogs : ScriptedDialogs {
    void showMessage(const QString&, const QString&, BoxIcon) override {
      throw std::runtime_error("no screen");
    }
  } dialogs;
  ReportingProcedure run(dialogs, "T");
  bool wentOn = false;
  run.step(100, [] { throw std::runtime_error("x"); });
  run.step(102, [&] { wentOn = true; });
  EXPECT_TRUE(wentOn);
}
