#include "UnicodeCleaning.h"

#include <QList>
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

namespace {

bool partsWords(char32_t c) {
  return QChar::isSpace(c) || c == u'-' || c == u'\'' || c == 0x2010 || c == 0x2011 || c == 0x2019;
}

// The first letter of a word in title case.
QString titled(char32_t letter) {
  const char32_t title = QChar::toTitleCase(letter);
  if (title != QChar::toUpper(letter)) return QString::fromUcs4(&title, 1);  // ǆ → ǅ
  const QString upper = QString::fromUcs4(&letter, 1).toUpper();  // the full mapping: ß → SS
  // Of several letters only the first stays upper case: ß → Ss.
  const qsizetype first = upper.front().isHighSurrogate() ? 2 : 1;
  return upper.left(first) + upper.mid(first).toLower();
}

}  // namespace

QString ToTitleCase(const QString& text) {
  QString out;
  out.reserve(text.size());
  QString word;  // the rest of the word, lowered as one so that no mapping is cut
  bool atStart = true;
  const auto endWord = [&] {
    out += word.toLower();
    word.clear();
  };
  for (const char32_t c : text.toUcs4()) {
    if (partsWords(c)) {
      endWord();
      out += QString::fromUcs4(&c, 1);
      atStart = true;
    } else if (atStart && QChar::isLetter(c)) {
      endWord();  // what came before the letter: "(" of "(north)"
      out += titled(c);
      atStart = false;
    } else {
      word += QString::fromUcs4(&c, 1);
      atStart = atStart && !QChar::isLetterOrNumber(c);
    }
  }
  endWord();
  return out;
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
