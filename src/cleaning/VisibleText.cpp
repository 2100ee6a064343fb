#include "VisibleText.h"

#include <QList>
#include <QStringDecoder>

QChar VisibleMark(QChar c) {
  switch (c.unicode()) {
    case u' ':
      return u'·';
    case u'\t':
      return u'→';
    case u'\r':
      return u'↵';
    case u'\n':
      return u'¶';
    case 0x00A0:  // no-break space
      return u'⍽';
    case 0x1680:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return u'␣';
    case 0x200B:  // zero-width space, non-joiner, joiner
    case 0x200C:
    case 0x200D:
    case 0x2060:  // word joiner
    case 0xFEFF:  // zero-width no-break space
      return u'‸';
    default:
      // Other controls, which a terminal would obey. One mark for them all: the pictures of
      // the Control Pictures block are missing from the usual fonts (DejaVu, Liberation).
      if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F)) return u'⌧';
      // The spaces of the General Punctuation block: en quad to hair space.
      return c.unicode() >= 0x2000 && c.unicode() <= 0x200A ? QChar(u'␣') : QChar();
  }
}

QString WithControlMarks(const QString& text) {
  QString shown = text;
  for (QChar& c : shown) {
    const char16_t unit = c.unicode();
    const bool control = (unit < 0x20 && unit != u'\n') || (unit >= 0x7F && unit <= 0x9F);
    if (control) c = VisibleMark(c);
  }
  return shown;
}

QString WithVisibleMarks(const QString& text) {
  QString shown = text;
  for (QChar& c : shown) {
    if (const QChar mark = VisibleMark(c); !mark.isNull()) c = mark;
  }
  return shown;
}

void AppendWithVisibleMarks(QByteArray& out, QByteArrayView text) {
  const auto plain = [](uchar c) { return c > 0x20 && c < 0x7F; };
  qsizetype at = 0;
  while (at < text.size()) {
    const auto lead = uchar(text[at]);
    if (plain(lead)) {
      qsizetype end = at + 1;
      while (end < text.size() && plain(uchar(text[end]))) ++end;
      out.append(text.sliced(at, end - at));
      at = end;
      continue;
    }
    // The code point of a sequence of up to three bytes; no mark lies beyond them.
    const qsizetype length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : lead & 0x0F;
    for (qsizetype i = 1; i < length && at + i < text.size(); ++i) {
      code = code << 6 | (uchar(text[at + i]) & 0x3F);
    }
    const QChar mark = length < 4 ? VisibleMark(QChar(char16_t(code))) : QChar();
    if (mark.isNull()) {
      out += text.sliced(at, std::min(length, text.size() - at));
    } else {
      out += QString(mark).toUtf8();
    }
    at += length;
  }
}

const QString VisibleMarksLegend = QStringLiteral(
    "· space   → tab   ↵ carriage return   ¶ line feed   ⍽ no-break space   "
    "␣ other space   ‸ zero-width character   ⌧ control character");

namespace {

// Beyond this many cells the common subsequence costs more than a screen of rows is worth.
constexpr qsizetype MaxCells = 1'000'000;

// The text's characters, whole: a character outside the BMP is one, not two halves.
using Characters = QList<uint>;

// Everything between the common beginning and the common end.
void markBetweenCommonEnds(const Characters& before, const Characters& after,
                           std::vector<bool>& beforeMarks, std::vector<bool>& afterMarks) {
  const qsizetype shorter = std::min(before.size(), after.size());
  qsizetype prefix = 0;
  while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
  qsizetype suffix = 0;
  while (suffix < shorter - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  for (qsizetype i = prefix; i < before.size() - suffix; ++i) beforeMarks[std::size_t(i)] = true;
  for (qsizetype i = prefix; i < after.size() - suffix; ++i) afterMarks[std::size_t(i)] = true;
}

void markLongestCommonSubsequenceApart(const Characters& before, const Characters& after,
                                       std::vector<bool>& beforeMarks,
                                       std::vector<bool>& afterMarks) {
  const qsizetype rows = before.size() + 1, columns = after.size() + 1;
  // common[i][j]: the longest common subsequence of before[i..] and after[j..].
  std::vector<quint32> common(std::size_t(rows * columns), 0);
  const auto at = [&](qsizetype i, qsizetype j) -> quint32& {
    return common[std::size_t(i * columns + j)];
  };
  for (qsizetype i = before.size() - 1; i >= 0; --i) {
    for (qsizetype j = after.size() - 1; j >= 0; --j) {
      at(i, j) =
          before[i] == after[j] ? at(i + 1, j + 1) + 1 : std::max(at(i + 1, j), at(i, j + 1));
    }
  }
  qsizetype i = 0, j = 0;
  while (i < before.size() && j < after.size()) {
    if (before[i] == after[j]) {
      ++i, ++j;
    } else if (at(i + 1, j) >= at(i, j + 1)) {
      beforeMarks[std::size_t(i++)] = true;
    } else {
      afterMarks[std::size_t(j++)] = true;
    }
  }
  for (; i < before.size(); ++i) beforeMarks[std::size_t(i)] = true;
  for (; j < after.size(); ++j) afterMarks[std::size_t(j)] = true;
}

// Marks of characters as marks of the code units that spell them.
std::vector<bool> unitMarks(const QString& text, const std::vector<bool>& characterMarks) {
  std::vector<bool> marks(std::size_t(text.size()));
  std::size_t character = 0;
  for (qsizetype i = 0; i < text.size(); ++i, ++character) {
    const bool pair =
        text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
    const bool marked = character < characterMarks.size() && characterMarks[character];
    marks[std::size_t(i)] = marked;
    if (pair) marks[std::size_t(++i)] = marked;
  }
  return marks;
}

}  // namespace

ChangedParts ChangedPartsOf(const QString& before, const QString& after) {
  const Characters beforeCharacters = before.toUcs4(), afterCharacters = after.toUcs4();
  std::vector<bool> beforeMarks(std::size_t(beforeCharacters.size())),
      afterMarks(std::size_t(afterCharacters.size()));
  if ((beforeCharacters.size() + 1) * (afterCharacters.size() + 1) > MaxCells) {
    markBetweenCommonEnds(beforeCharacters, afterCharacters, beforeMarks, afterMarks);
  } else {
    markLongestCommonSubsequenceApart(beforeCharacters, afterCharacters, beforeMarks, afterMarks);
  }
  return {unitMarks(before, beforeMarks), unitMarks(after, afterMarks)};
}

bool IsUtf8(QByteArrayView bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8);
  const QString decoded = decoder.decode(bytes);  // decoded only once converted
  return !decoder.hasError();
}
