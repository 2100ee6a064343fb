#include "VisibleText.h"

QChar VisibleMark(QChar c) {
  switch (c.unicode()) {
    case u' ':
      return u'·';
    case u'\t':
      return u'→';
    case u'\r':
      return u'␍';
    case u'\n':
      return u'␊';
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
      // The spaces of the General Punctuation block: en quad to hair space.
      return c.unicode() >= 0x2000 && c.unicode() <= 0x200A ? QChar(u'␣') : QChar();
  }
}

QString WithVisibleMarks(const QString& text) {
  QString shown = text;
  for (QChar& c : shown) {
    if (const QChar mark = VisibleMark(c); !mark.isNull()) c = mark;
  }
  return shown;
}

const QString VisibleMarksLegend = QStringLiteral(
    "· space   → tab   ␍ carriage return   ␊ line feed   ⍽ no-break space   "
    "␣ other space   ‸ zero-width character");

ChangedSpan ChangedSpanOf(const QString& before, const QString& after) {
  const qsizetype shorter = std::min(before.size(), after.size());
  qsizetype prefix = 0;
  while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
  // A character is not cut in two: a span never starts or ends inside a surrogate pair.
  if (prefix > 0 && before[prefix - 1].isHighSurrogate()) --prefix;
  qsizetype suffix = 0;
  while (suffix < shorter - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  if (suffix > 0 && before[before.size() - suffix].isLowSurrogate()) --suffix;
  return {prefix, before.size() - prefix - suffix, after.size() - prefix - suffix};
}
