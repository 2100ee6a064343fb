#include "Fundamental.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <stdexcept>

#include "../support/QStringPrinting.h"

using namespace Fundamental;

namespace {
const QString Empty;
const QString Tab = QStringLiteral("\t");
}  // namespace

TEST(Transformations, EmptyTextStaysEmpty) {
  const QString x = QStringLiteral("x");
  EXPECT_EQ(RemoveAllSpaces(Empty), Empty);
  EXPECT_EQ(ReplaceAllSpaces(Empty, x), Empty);
  EXPECT_EQ(RemoveLeadingSpaces(Empty), Empty);
  EXPECT_EQ(RemoveTrailingSpaces(Empty), Empty);
  EXPECT_EQ(CollapseSpaces(Empty), Empty);
  EXPECT_EQ(RemoveEnters(Empty), Empty);
  EXPECT_EQ(ReplaceEnters(Empty, x), Empty);
  EXPECT_EQ(RemoveTabs(Empty), Empty);
  EXPECT_EQ(ReplaceTabs(Empty, x), Empty);
  EXPECT_EQ(RemoveAlphabetCharacters(Empty), Empty);
  EXPECT_EQ(ReplaceAlphabetCharacters(Empty, x), Empty);
  EXPECT_EQ(RemoveNumericCharacters(Empty), Empty);
  EXPECT_EQ(ReplaceNumericCharacters(Empty, x), Empty);
  EXPECT_EQ(RemoveAlphanumericCharacters(Empty), Empty);
  EXPECT_EQ(ReplaceAlphanumericCharacters(Empty, x), Empty);
  EXPECT_EQ(RemoveNonAlphanumericCharacters(Empty), Empty);
  EXPECT_EQ(ReplaceNonAlphanumericCharacters(Empty, x), Empty);
  EXPECT_EQ(RemoveUserDefinedCharacters(Empty, x), Empty);
  EXPECT_EQ(ReplaceUserDefinedCharacters(Empty, x, x), Empty);
  EXPECT_EQ(RemoveTextAfterCharacters(Empty, x), Empty);
  EXPECT_EQ(ReplaceTextAfterCharacters(Empty, x, x), Empty);
  EXPECT_EQ(RemoveTextBeforeCharacters(Empty, x), Empty);
  EXPECT_EQ(ReplaceTextBeforeCharacters(Empty, x, x), Empty);
  for (qint16 n : {0, 1, 32766}) {
    EXPECT_EQ(RemoveFirstCharacters(Empty, n), Empty);
    EXPECT_EQ(RemoveTextAfterPosition(Empty, n), Empty);
    EXPECT_EQ(RemoveTextBeforePosition(Empty, n), Empty);
  }
  for (qint16 n : {-5, 0, 32767}) EXPECT_EQ(RemoveLastCharacters(Empty, n), Empty);
}

TEST(Transformations, OnlyU0020IsASpace) {
  EXPECT_EQ(RemoveAllSpaces("  a b  "), "ab");
  EXPECT_EQ(ReplaceAllSpaces("a  b", "--"), "a----b");
  EXPECT_EQ(RemoveAllSpaces(QStringLiteral("a\t\u00A0b")), QStringLiteral("a\t\u00A0b"));
  EXPECT_EQ(RemoveLeadingSpaces("\ta"), "\ta");
  EXPECT_EQ(RemoveLeadingSpaces("   "), Empty);
  EXPECT_EQ(RemoveLeadingSpaces("  a b "), "a b ");
  EXPECT_EQ(RemoveTrailingSpaces("   "), Empty);
  EXPECT_EQ(RemoveTrailingSpaces("a \t "), "a \t");
  EXPECT_EQ(RemoveTrailingSpaces(" a b  "), " a b");
}

TEST(Transformations, CollapseSpacesKeepsOneSpaceBetweenWords) {
  EXPECT_EQ(CollapseSpaces("  a    b  "), "a b");
  EXPECT_EQ(CollapseSpaces("a\t\tb"), "a\t\tb");
  EXPECT_EQ(CollapseSpaces("     "), Empty);
  EXPECT_EQ(CollapseSpaces("a \t b"), "a \t b");
  EXPECT_EQ(CollapseSpaces("a b"), "a b");
}

// The definition: halve double spaces until none is left, then trim both ends.
QString collapseByRepeatedPasses(QString text) {
  while (text.contains("  ")) text = ReplaceUserDefinedCharacters(text, "  ", " ");
  return RemoveTrailingSpaces(RemoveLeadingSpaces(text));
}

TEST(Transformations, CollapseSpacesEqualsRepeatedPasses) {
  QRandomGenerator random(7);
  const QString alphabet = QStringLiteral("    ab\t");
  for (int round = 0; round < 2000; ++round) {
    QString text;
    const int length = random.bounded(24);
    for (int i = 0; i < length; ++i) text += alphabet[random.bounded(alphabet.size())];
    ASSERT_EQ(CollapseSpaces(text), collapseByRepeatedPasses(text)) << text.toStdString();
  }
}

TEST(Transformations, EntersBecomeSpacesOrTheReplacement) {
  EXPECT_EQ(RemoveEnters("a\r\nb"), "a  b");
  EXPECT_EQ(RemoveEnters("a\n\rb\rc"), "a  b c");
  EXPECT_EQ(ReplaceEnters("a\r\nb", "|"), "a||b");
  EXPECT_EQ(ReplaceEnters("a\r\nb", Empty), "ab");
  // Line feeds go first; the carriage returns that their replacement brought in go next.
  EXPECT_EQ(ReplaceEnters("a\nb", "<\r>"), "a<<\r>>b");
  EXPECT_EQ(ReplaceEnters("a\rb", "<\r>"), "a<\r>b");
  EXPECT_EQ(ReplaceEnters("a\rb", "\n"), "a\nb");
}

TEST(Transformations, Tabs) {
  EXPECT_EQ(RemoveTabs("\ta\t\tb "), "ab ");
  EXPECT_EQ(ReplaceTabs("a\tb\t", "    "), "a    b    ");
}

TEST(Transformations, CharacterSetsAreAsciiOnly) {
  EXPECT_EQ(ReplaceAlphabetCharacters("ab1", "x"), "xx1");
  EXPECT_EQ(ReplaceAlphabetCharacters("ab1", "xy"), "xyxy1");
  EXPECT_EQ(RemoveAlphabetCharacters(QStringLiteral("Éa1ßЖz")), QStringLiteral("É1ßЖ"));
  EXPECT_EQ(RemoveNumericCharacters(QStringLiteral("a1٣2")), QStringLiteral("a٣"));
  EXPECT_EQ(ReplaceNumericCharacters("a12", "#"), "a##");
  EXPECT_EQ(RemoveAlphanumericCharacters("a-1 Z_"), "- _");
  EXPECT_EQ(ReplaceAlphanumericCharacters("a-1", Empty), "-");
  EXPECT_EQ(RemoveNonAlphanumericCharacters("a b-1"), "ab1");
  EXPECT_EQ(ReplaceNonAlphanumericCharacters("a b-1", "_"), "a b_1");
}

TEST(Transformations, WorkersHonourTheInvertFlag) {
  EXPECT_EQ(RemoveCharacterSet("abc123", Digits, false), "abc");
  EXPECT_EQ(RemoveCharacterSet("abc123", Digits, true), "123");
  EXPECT_EQ(ReplaceCharacterSet("a1", Digits, "<>", false), "a<>");
  EXPECT_EQ(ReplaceCharacterSet("a1", Digits, "<>", true), "<>1");
  // A set may hold characters beyond ASCII.
  EXPECT_EQ(RemoveCharacterSet(QStringLiteral("aÉbé"), QStringLiteral("É"), false),
            QStringLiteral("abé"));
}

TEST(Transformations, SurrogatePairsAreTwoCharacters) {
  const QString emoji = QStringLiteral("\U0001F600");
  ASSERT_EQ(emoji.size(), 2);
  EXPECT_EQ(ReplaceNonAlphanumericCharacters("a" + emoji, "_"), "a__");
  EXPECT_EQ(RemoveFirstCharacters(emoji + "b", 1), emoji.sliced(1) + "b");
  EXPECT_EQ(RemoveLastCharacters("a" + emoji, 1), "a" + emoji.first(1));
}

TEST(Transformations, UserDefinedTextIsReplacedWithoutOverlapOrRescanning) {
  EXPECT_EQ(ReplaceUserDefinedCharacters("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceUserDefinedCharacters("a", "a", "aa"), "aa");
  EXPECT_EQ(ReplaceUserDefinedCharacters("Abc", "a", "x"), "Abc");
  EXPECT_EQ(RemoveUserDefinedCharacters("aabb", "ab"), "ab");
  EXPECT_EQ(RemoveUserDefinedCharacters("a b  c", " "), "abc");
  EXPECT_EQ(ReplaceUserDefinedCharacters("x--y--", "--", Empty), "xy");
  EXPECT_EQ(ReplaceUserDefinedCharacters("abcabc", "bc", "BC!"), "aBC!aBC!");
}

TEST(Transformations, EmptySearchTextChangesNothing) {
  EXPECT_EQ(ReplaceUserDefinedCharacters("abc", Empty, "x"), "abc");
  EXPECT_EQ(RemoveUserDefinedCharacters("abc", Empty), "abc");
  EXPECT_EQ(RemoveTextAfterCharacters("abc", Empty), "abc");
  EXPECT_EQ(ReplaceTextBeforeCharacters("abc", Empty, "x"), "abc");
}

TEST(Transformations, OnlyTheFirstDelimiterCountsAndStays) {
  EXPECT_EQ(RemoveTextAfterCharacters("k=v=w", "="), "k=");
  EXPECT_EQ(RemoveTextAfterCharacters("a--b--c", "--"), "a--");
  EXPECT_EQ(RemoveTextAfterCharacters("abc", "x"), "abc");
  EXPECT_EQ(RemoveTextAfterCharacters("a-b", "-b"), "a-b");
  EXPECT_EQ(ReplaceTextAfterCharacters("k=v", "=", "X"), "k=X");
  EXPECT_EQ(ReplaceTextAfterCharacters("kv", "=", "X"), "kv");
  EXPECT_EQ(RemoveTextBeforeCharacters("k=v=w", "="), "=v=w");
  EXPECT_EQ(RemoveTextBeforeCharacters("KEY:key", "key"), "key");
  EXPECT_EQ(ReplaceTextBeforeCharacters("k=v", "=", "X"), "X=v");
  EXPECT_EQ(ReplaceTextBeforeCharacters("kv", "=", "X"), "kv");
}

TEST(Transformations, CountsAndPositions) {
  const QString text = QStringLiteral("abcdef");
  EXPECT_EQ(RemoveFirstCharacters(text, 0), "abcdef");
  EXPECT_EQ(RemoveFirstCharacters(text, 2), "cdef");
  EXPECT_EQ(RemoveFirstCharacters(text, 6), Empty);
  EXPECT_EQ(RemoveFirstCharacters(text, 10), Empty);
  EXPECT_EQ(RemoveFirstCharacters(text, 32766), Empty);

  EXPECT_EQ(RemoveLastCharacters(text, 2), "abcd");
  EXPECT_EQ(RemoveLastCharacters(text, 6), Empty);
  EXPECT_EQ(RemoveLastCharacters(text, 10), Empty);
  EXPECT_EQ(RemoveLastCharacters(text, -3), "abcdef");
  EXPECT_EQ(RemoveLastCharacters(text, -32768), "abcdef");
  EXPECT_EQ(RemoveLastCharacters(text, 32767), Empty);

  EXPECT_EQ(RemoveTextAfterPosition(text, 3), "abc");
  EXPECT_EQ(RemoveTextAfterPosition(text, 0), Empty);
  EXPECT_EQ(RemoveTextAfterPosition(text, 6), "abcdef");
  EXPECT_EQ(RemoveTextAfterPosition(text, 10), "abcdef");
  EXPECT_EQ(RemoveTextAfterPosition(text, 32767), "abcdef");

  EXPECT_EQ(RemoveTextBeforePosition(text, 3), "def");
  EXPECT_EQ(RemoveTextBeforePosition(text, 0), "abcdef");
  EXPECT_EQ(RemoveTextBeforePosition(text, 6), Empty);
}

TEST(Transformations, RefusedCountsAndPositions) {
  const QString text = QStringLiteral("abcdef");
  EXPECT_THROW(RemoveFirstCharacters(text, -1), std::invalid_argument);
  EXPECT_THROW(RemoveFirstCharacters(text, -32768), std::invalid_argument);
  EXPECT_THROW(RemoveFirstCharacters(text, 32767), std::overflow_error);
  EXPECT_THROW(RemoveTextBeforePosition(text, -1), std::invalid_argument);
  EXPECT_THROW(RemoveTextBeforePosition(Empty, 32767), std::overflow_error);
  EXPECT_THROW(RemoveTextAfterPosition(text, -1), std::invalid_argument);

  try {
    RemoveFirstCharacters(text, -1);
    ADD_FAILURE() << "no failure";
  } catch (const std::invalid_argument& failure) {
    EXPECT_STREQ(failure.what(), "Invalid procedure call or argument");
  }
  try {
    RemoveTextBeforePosition(text, 32767);
    ADD_FAILURE() << "no failure";
  } catch (const std::overflow_error& failure) {
    EXPECT_STREQ(failure.what(), "Overflow");
  }
}
