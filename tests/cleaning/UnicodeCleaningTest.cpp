// The operations added after the first 27: regular expressions, both ends, case, and the
// characters that cannot be seen.

#include <gtest/gtest.h>

#include <QLocale>

#include "../support/QStringPrinting.h"
#include "RegexReplace.h"
#include "UnicodeCleaning.h"

using namespace UnicodeCleaning;

TEST(ReplaceRegex, GroupsNamesAndDollars) {
  EXPECT_EQ(ReplaceRegex("hello world", R"((\w+) (\w+))", "$2 $1"), "world hello");
  EXPECT_EQ(ReplaceRegex("2026-12-07", R"((?<y>\d+)-(\d+)-(\d+))", "$3.${2}.${y}"), "07.12.2026");
  EXPECT_EQ(ReplaceRegex("5 EUR", R"((\d+) EUR)", "$$$1"), "$5");
  // A group that took no part in the match gives nothing.
  EXPECT_EQ(ReplaceRegex("b", "(a)?b", "[$1]"), "[]");
  EXPECT_EQ(ReplaceRegex("a  \t", R"(\s+$)", ""), "a");
  EXPECT_EQ(ReplaceRegex("", "^$", "empty"), "empty");
  EXPECT_EQ(ReplaceRegex("abc", "x", "y"), "abc");
}

TEST(ReplaceRegex, EmptyMatchesMoveOnByOneCharacter) {
  EXPECT_EQ(ReplaceRegex("ab", "x*", "-"), "-a-b-");
  EXPECT_EQ(ReplaceRegex("aab", "a*", "-"), "--b-");
  EXPECT_EQ(ReplaceRegex(u"a😀b"_qs, "x*", "-"), u"-a-😀-b-"_qs) << "a surrogate pair stays whole";
  EXPECT_EQ(ReplaceRegex("a b  c", R"(\s*)", ""), "abc");
  EXPECT_EQ(ReplaceRegex("abc", ".*", ""), "");
  EXPECT_EQ(ReplaceRegex("", "x*", "-"), "-");
}

// A long value is replaced match by match, and a stop ends it between two matches.
TEST(ReplaceRegex, ALongValueIsInterruptedOnRequest) {
  const QString value(200000, u' ');
  EXPECT_EQ(ReplaceRegex(value, R"(\s*)", "-"), "--");
  int asked = 0;
  const RegexInterruption stop([&] { return ++asked > 2; });
  EXPECT_THROW(ReplaceRegex(value, "x*", ""), RegexLimitError);
  EXPECT_EQ(asked, 3);
}

// Unicode mode: a character is a code point, classes know every script.
TEST(ReplaceRegex, CharactersAreCodePoints) {
  EXPECT_EQ(ReplaceRegex(u"😀a"_qs, ".", "[$0]"), u"[😀][a]"_qs);
  EXPECT_EQ(ReplaceRegex(u"e\u0301!"_qs, R"(\X)", "<$0>"), u"<e\u0301><!>"_qs);
  EXPECT_EQ(ReplaceRegex(u"Größe ٣"_qs, R"(\w+ \d)", "ok"), "ok");
  EXPECT_EQ(ReplaceRegex(u"STRASSE straße"_qs, "(?i)straße", "x"), u"STRASSE x"_qs);
}

TEST(ReplaceRegex, PatternsAndReplacementsThatCannotBeUsedAreNamed) {
  EXPECT_EQ(RegexProblem("(abc", ""),
            "Invalid regular expression at offset 4: missing closing parenthesis");
  EXPECT_EQ(RegexProblem("(a)(b)", "$3"),
            "The replacement refers to group 3, which the regular expression does not have.");
  EXPECT_EQ(RegexProblem("(?<word>a)", "${wrod}"),
            "The replacement refers to group wrod, which the regular expression does not have.");
  for (const char* replacement : {"5$", "${1", "$ ", "${}"}) {
    EXPECT_TRUE(RegexProblem("(a)", replacement).startsWith("The replacement has a \"$\" at"))
        << replacement;
  }
  EXPECT_EQ(RegexProblem("(a)", "costs 5$ (a $1)"),
            "The replacement has a \"$\" at position 8 that names no group: write \"$$\" for a "
            "dollar sign.");
  EXPECT_EQ(RegexProblem("(a)(b)", "$2$1$$ ${1}x$1x"), "");
  EXPECT_THROW(ReplaceRegex("abc", "(abc", ""), std::invalid_argument);
}

TEST(ReplaceRegex, ABacktrackingPatternStopsAtItsLimit) {
  const QString value = QString(40, u'a') + u'!';
  EXPECT_THROW(ReplaceRegex(value, "(a+)+$", ""), RegexLimitError);
  // The next value, and the pattern, are still usable.
  EXPECT_EQ(ReplaceRegex("aaa", "(a+)+$", "x"), "x");
}

TEST(UnicodeCleaning, TrimBothEndsTakesOnlySpaces) {
  EXPECT_EQ(TrimBothEnds("  a  b  "), "a  b");
  EXPECT_EQ(TrimBothEnds("\t a \t"), "\t a \t");
  EXPECT_EQ(TrimBothEnds("   "), "");
  EXPECT_EQ(TrimBothEnds(""), "");
}

TEST(UnicodeCleaning, CaseUsesFullMappingsInEveryLocale) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::Turkish));
  EXPECT_EQ(ToUpperCase(u"straße ǆ i"_qs), u"STRASSE Ǆ I"_qs);
  EXPECT_EQ(ToLowerCase(u"ÀÉ İ I Σ"_qs), u"àé i\u0307 i σ"_qs);
  EXPECT_EQ(ToUpperCase(u"😀 ꞵ"_qs), u"😀 Ꞵ"_qs);
  QLocale::setDefault(before);
}

TEST(UnicodeCleaning, TitleCasePartsWordsAtSpacesHyphensAndApostrophes) {
  EXPECT_EQ(ToTitleCase(u"o'neil-smith"_qs), "O'Neil-Smith");
  EXPECT_EQ(ToTitleCase(u"NEW  YORK\tcity"_qs), u"New  York\tCity"_qs);
  EXPECT_EQ(ToTitleCase(u"3rd street (north)"_qs), "3rd Street (North)");
  // Unicode's title-case letters and full mappings; letters beyond 16 bits.
  EXPECT_EQ(ToTitleCase(u"ǆungla ßtraße élan ꞵeta 𐐨𐐩"_qs),
            u"ǅungla Sstraße Élan Ꞵeta 𐐀𐐩"_qs);
  EXPECT_EQ(ToTitleCase(u"ÉCOLE D’ÉTÉ"_qs), u"École D’Été"_qs);
  EXPECT_EQ(ToTitleCase(""), "");
}

TEST(UnicodeCleaning, UnicodeSpacesBecomePlainSpaces) {
  EXPECT_EQ(ReplaceUnicodeSpaces(u"a\u00A0b\u2009c\u3000d\u202Fe\u2007f"_qs), "a b c d e f");
  // Zero-width characters are no spaces, and tabs and line breaks are no separators.
  EXPECT_EQ(ReplaceUnicodeSpaces(u"a\u200Bb\tc\n"_qs), u"a\u200Bb\tc\n"_qs);
}

TEST(UnicodeCleaning, InvisibleCharactersGoTabsAndLineBreaksStay) {
  EXPECT_EQ(RemoveInvisibleCharacters(u"a\u200Bb\u0000c\td\r\ne\u0085f\uFEFF\u2060\u007F"_qs),
            u"abc\td\r\nef"_qs);
  EXPECT_EQ(RemoveInvisibleCharacters(u"😀\u200D😀"_qs), u"😀😀"_qs);
  EXPECT_EQ(RemoveInvisibleCharacters(""), "");
}
