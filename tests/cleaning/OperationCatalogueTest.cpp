#include "OperationCatalogue.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QStringList>
#include <stdexcept>

#include "../support/QStringPrinting.h"
#include "NumberText.h"

TEST(OperationCatalogue, PositionsCaptionsAndLinesFollowTheirRules) {
  const auto& operations = Catalogue();
  QSet<QString> captions;
  int expectedTestLine = 128;
  for (int i = 0; i < OperationCount; ++i) {
    const CleaningOperation& operation = operations[i];
    EXPECT_EQ(operation.position, i);
    captions.insert(operation.caption.toString());
    // Those added later take lines after the steps that follow the first 27.
    if (i == FirstOperationCount) expectedTestLine = 1000;
    EXPECT_EQ(operation.testLine, expectedTestLine) << operation.caption.toString().toStdString();
    const bool hasMessage = operation.kind == OperationKind::Number ||
                            operation.kind == OperationKind::PatternAndReplacement;
    expectedTestLine = operation.loopLine() + (hasMessage ? 16 : 14);
  }
  EXPECT_EQ(captions.size(), OperationCount);
  EXPECT_EQ(operations[21].caption,
            u"Remove All Text Before User-Defined Character(s) in Selected Field");
  EXPECT_EQ(operations[26].caption, u"Remove All Text Before x Position in Field");
  EXPECT_EQ(operations[26].loopLine(), 634);
  EXPECT_EQ(operations[1].loopLine(), 150);
}

// Written out here, not taken from the catalogue, so that a typo in a caption fails.
TEST(OperationCatalogue, CaptionsAreTheListedTextsInOrder) {
  const QStringList expected = {
      "Remove All Spaces in Selected Field",
      "Replace All Spaces in Selected Field With...",
      "Remove Extra Spaces at Beginning of Selected Field",
      "Remove Extra Spaces at End of Selected Field",
      "Remove All Spaces Except for Single Spaces Between Words in Selected Field",
      "Remove Enters (Carriage Returns) in Selected Field",
      "Replace Enters (Carriage Returns) in Selected Field With...",
      "Remove Tabs in Selected Field",
      "Replace Tabs in Selected Field With...",
      "Remove Alphabet Character(s) in Selected Field",
      "Replace Alphabet Character(s) in Selected Field With...",
      "Remove Numeric Character(s) in Selected Field",
      "Replace Numeric Character(s) in Selected Field With...",
      "Remove Alphanumeric Character(s) in Selected Field",
      "Replace Alphanumeric Character(s) in Selected Field With...",
      "Remove Non-Alphanumeric Character(s) in Selected Field",
      "Replace Non-Alphanumeric Character(s) in Selected Field With...",
      "Remove User-Defined Character(s) in Selected Field",
      "Replace User-Defined Character(s) in Selected Field With...",
      "Remove All Text After User-Defined Character(s) in Selected Field",
      "Replace All Text After User-Defined Character(s) in Selected Field With...",
      "Remove All Text Before User-Defined Character(s) in Selected Field",
      "Replace All Text Before User-Defined Character(s) in Selected Field With...",
      "Remove First x Character(s) in Selected Field",
      "Remove Last x Character(s) in Selected Field",
      "Remove All Text After x Position in Field",
      "Remove All Text Before x Position in Field",
      "Replace Text Matching a Regular Expression in Selected Field With...",
      "Remove Extra Spaces at Both Ends of Selected Field",
      "Change Selected Field to Upper Case",
      "Change Selected Field to Lower Case",
      "Replace Unicode Spaces (No-Break, Thin, Ideographic...) in Selected Field With a Space",
      "Remove Zero-Width and Control Characters in Selected Field",
      "Title Case in Selected Field",
      "Map Values in Selected Field"};
  QStringList captions;
  for (const CleaningOperation& operation : Catalogue()) captions << operation.caption.toString();
  EXPECT_EQ(captions, expected);
}

TEST(OperationCatalogue, CaptionsAreFoundExactly) {
  EXPECT_EQ(FindOperation(u"Remove Tabs in Selected Field")->position, 7);
  EXPECT_EQ(FindOperation(u"remove tabs in selected field"), nullptr);
  EXPECT_EQ(FindOperation(u"Remove Tabs in Selected Field "), nullptr);
  EXPECT_EQ(FindOperation(u""), nullptr);
}

TEST(OperationCatalogue, NumberAnswersAreConvertedOnEveryCall) {
  const CleaningOperation& removeFirst =
      *FindOperation(u"Remove First x Character(s) in Selected Field");
  EXPECT_EQ(removeFirst.transform("abcdef", {"2.5", ""}), "cdef");
  EXPECT_EQ(removeFirst.transform("abcdef", {"3.5", ""}), "ef");
  EXPECT_THROW(removeFirst.transform("abcdef", {"40000", ""}), std::overflow_error);
  EXPECT_THROW(removeFirst.transform("abcdef", {"-1", ""}), std::invalid_argument);
}

TEST(NumberText, ReadsNumbersInTheUsersFormat) {
  for (const char* numeric : {"7", " 7 ", "-3", "+4", "2.5", "1e3", "40000", "0.0"}) {
    EXPECT_TRUE(IsNumeric(numeric)) << numeric;
  }
  for (const char* other : {"", " ", "abc", "7a", "1..2", "inf", "nan"}) {
    EXPECT_FALSE(IsNumeric(other)) << other;
  }
  EXPECT_EQ(ToInteger16(" 7 "), 7);
  EXPECT_EQ(ToInteger16("2.5"), 2);
  EXPECT_EQ(ToInteger16("3.5"), 4);
  EXPECT_EQ(ToInteger16("-2.5"), -2);
  EXPECT_EQ(ToInteger16("2.6"), 3);
  EXPECT_EQ(ToInteger16("32767.4"), 32767);
  EXPECT_EQ(ToInteger16("-32768"), -32768);
  EXPECT_THROW(ToInteger16("32767.5"), std::overflow_error);
  EXPECT_THROW(ToInteger16("-32769"), std::overflow_error);
  EXPECT_THROW(ToInteger16("abc"), std::invalid_argument);
  EXPECT_THROW(ToInteger16(""), std::invalid_argument);
}

TEST(NumberText, RoundsTheTypedDecimalExactly) {
  EXPECT_EQ(ToInteger16("2.50000000000000001"), 3);
  EXPECT_EQ(ToInteger16("2.49999999999999999"), 2);
  EXPECT_EQ(ToInteger16("32767.49999999999999999"), 32767);
  EXPECT_THROW(ToInteger16("-32768.50000000000001"), std::overflow_error);
  EXPECT_EQ(ToInteger16("-32768.5"), -32768);  // the even neighbour
  EXPECT_EQ(ToInteger16("-0.5"), 0);
  EXPECT_EQ(ToInteger16("0.5000000000000000000001"), 1);
  EXPECT_EQ(ToInteger16("000123.500"), 124);
  EXPECT_EQ(ToInteger16("1.25e2"), 125);
  EXPECT_EQ(ToInteger16("325E-1"), 32);
  EXPECT_EQ(ToInteger16("4.5e-300"), 0);
  EXPECT_EQ(ToInteger16("0e999"), 0);
  EXPECT_THROW(ToInteger16("3.2768e4"), std::overflow_error);
  EXPECT_THROW(ToInteger16("99999999999999999999"), std::overflow_error);
}

// map-values: whole values, matched exactly; a map that cannot be read is named.
TEST(OperationCatalogue, MapValuesReplacesOnlyWholeValuesThatMatchExactly) {
  const CleaningOperation& map = *FindOperationByName(u"map-values");
  const Answers pairs{R"json([["N.Y.", "New York"], ["", "(none)"], ["ß", "ss"]])json", {}};
  EXPECT_EQ(map.transform("N.Y.", pairs), "New York");
  EXPECT_EQ(map.transform("N.Y. ", pairs), "N.Y. ") << "trailing space: another value";
  EXPECT_EQ(map.transform("n.y.", pairs), "n.y.") << "another case: another value";
  EXPECT_EQ(map.transform("", pairs), "(none)");
  EXPECT_EQ(map.transform("Straße", pairs), "Straße") << "never a part of a value";
  EXPECT_EQ(map.answersProblem(pairs), "");
  EXPECT_EQ(map.answersProblem({R"([["a"]])", {}}),
            "The map is a JSON array of [old, new] pairs of texts.");
  EXPECT_EQ(map.answersProblem({"not json", {}}),
            "The map is a JSON array of [old, new] pairs of texts.");
}
