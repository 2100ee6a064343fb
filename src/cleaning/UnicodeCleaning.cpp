#include "UnicodeCleaning.h"

#include <algorithm>

#include "Fundamental.h"

namespace UnicodeCleaning {

// Every space separator lies in the Basic Multilingual Plane.
bool IsOtherSpace(char16_t c) {
  return c != u' ' && QChar::category(char32_t(c)) == QChar::Separator_Space;
}

bool IsZeroWidth(char16_t c) {
  return (c >= 0x200B && c <= 0x200D) || c == 0x2060 || c == 0xFEFF;
}

bool IsControlCharacter(char16_t c) {
  return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || (c >= 0x7F && c <= 0x9F);
}

QString TrimBothEnds(const QString& text) {
  return Fundamental::RemoveTrailingSpaces(Fundamental::RemoveLeadingSpaces(text));
}

QString ToUpperCase(const QString& text) {
  return text.toUpper();
}

QString ToLowerCase(const QString& text) {
  return text.toLower();
}

// Most values are clean: they are handed back without a copy.
QString ReplaceUnicodeSpaces(const QString& text) {
  const auto first =
      std::find_if(text.cbegin(), text.cend(), [](QChar c) { return IsOtherSpace(c.unicode()); });
  if (first == text.cend()) return text;
  QString out = text;
  for (auto c = out.begin() + (first - text.cbegin()); c != out.end(); ++c) {
    if (IsOtherSpace(c->unicode())) *c = u' ';
  }
  return out;
}

QString RemoveInvisibleCharacters(const QString& text) {
  const auto invisible = [](QChar c) {
    return IsZeroWidth(c.unicode()) || IsControlCharacter(c.unicode());
  };
  if (std::none_of(text.cbegin(), text.cend(), invisible)) return text;
  QString out = text;
  out.removeIf(invisible);
  return out;
}

}  // namespace UnicodeCleaning
