#pragma once

// The characters beyond plain spaces, tabs and line breaks that make text dirty without
// being seen, and the transformations that clean them. Case changes use Unicode's full
// mappings ("ß" becomes "SS"), the same in every locale.

#include <QChar>
#include <QString>

namespace UnicodeCleaning {

// A space separator other than U+0020: no-break, thin, ideographic and the like.
bool IsOtherSpace(char16_t c);
// U+200B to U+200D, U+2060 and U+FEFF.
bool IsZeroWidth(char16_t c);
// U+0000 to U+001F except tab, LF and CR, and U+007F to U+009F.
bool IsControlCharacter(char16_t c);

// U+0020 removed at both ends.
QString TrimBothEnds(const QString& text);
QString ToUpperCase(const QString& text);
QString ToLowerCase(const QString& text);
// Each word's first letter in title case (upper case, or the title-case letter where
// Unicode has one: "ǆ" → "ǅ"), the rest of it in lower case. Words part at whitespace,
// hyphens and apostrophes: "o'neil-smith" → "O'Neil-Smith".
QString ToTitleCase(const QString& text);
// Every space separator other than U+0020 becomes U+0020.
QString ReplaceUnicodeSpaces(const QString& text);
// Zero-width and control characters removed; tab, CR and LF kept.
QString RemoveInvisibleCharacters(const QString& text);

}  // namespace UnicodeCleaning
