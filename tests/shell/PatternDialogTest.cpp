// The pattern and its replacement asked in one window, checked and tried as they are typed.
#include "PatternDialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "../support/QStringPrinting.h"
#include "OperationCatalogue.h"

namespace {

PatternQuestion regexQuestion(const QStringList& samples) {
  const CleaningOperation& operation = *FindOperationByName(u"replace-regex");
  return {
      .patternPrompt = OperationQuestions(operation.kind)[0],
      .replacementPrompt = OperationQuestions(operation.kind)[1],
      .samples = samples,
      .problem =
          [&operation](const QString& pattern, const QString& replacement) {
            return operation.answersProblem({pattern, replacement});
          },
      .apply =
          [&operation](const QString& sample, const QString& pattern, const QString& replacement) {
            return operation.transform(sample, {pattern, replacement});
          }};
}

QStringList afterColumn(const PatternDialog& dialog) {
  QStringList after;
  for (int i = 0; i < dialog.sampleList->topLevelItemCount(); ++i) {
    after << dialog.sampleList->topLevelItem(i)->text(1);
  }
  return after;
}

}  // namespace

TEST(PatternDialog, ThePatternIsCheckedAndTriedOnTheSamplesAsItIsTyped) {
  PatternDialog dialog(nullptr, "Klarifeld", regexQuestion({"Lee Ann", "Bo\tKim", ""}));
  EXPECT_EQ(dialog.patternEdit->accessibleName(), "Regular Expression:");
  EXPECT_EQ(dialog.replacementEdit->accessibleName(), "Replace With:");
  EXPECT_FALSE(dialog.okButton->isEnabled()) << "an empty pattern answers nothing";

  QTest::keyClicks(dialog.patternEdit, "a)");
  EXPECT_TRUE(dialog.problemText->isVisibleTo(&dialog));
  EXPECT_EQ(dialog.problemText->text(),
            "Invalid regular expression at offset 1: unmatched closing parenthesis");
  EXPECT_FALSE(dialog.okButton->isEnabled());
  EXPECT_EQ(afterColumn(dialog), QStringList({"Lee·Ann", "Bo→Kim", ""})) << "shown unchanged";

  dialog.patternEdit->clear();
  QTest::keyClicks(dialog.patternEdit, "(\\w+)\\s(\\w+)");
  QTest::keyClicks(dialog.replacementEdit, "$2, $1");
  EXPECT_FALSE(dialog.problemText->isVisibleTo(&dialog));
  EXPECT_TRUE(dialog.okButton->isEnabled());
  EXPECT_EQ(afterColumn(dialog), QStringList({"Ann,·Lee", "Kim,·Bo", ""}));
  // A replacement naming a group the pattern lacks is refused as well, before it is answered.
  QTest::keyClicks(dialog.replacementEdit, " ${nope}");
  EXPECT_FALSE(dialog.okButton->isEnabled());
  EXPECT_TRUE(dialog.problemText->text().contains("nope")) << dialog.problemText->text().toStdString();
}
