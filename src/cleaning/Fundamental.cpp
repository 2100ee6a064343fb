#include "Fundamental.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace Fundamental {
namespace {

constexpr char16_t Space = u' ';
constexpr char16_t Tab = u'\t';
constexpr char16_t LineFeed = u'\n';
constexpr char16_t CarriageReturn = u'\r';

// Membership in a set of code units: a bitmap for ASCII, a scan of the set otherwise.
class CodeUnitSet {
 public:
  explicit CodeUnitSet(QStringView members) : members_(members) {
    for (QChar c : members) {
      const char16_t unit = c.unicode();
      if (unit < 128) {
        ascii_[unit >> 6] |= std::uint64_t{1} << (unit & 63);
      } else {
        beyondAscii_ = true;
      }
    }
  }
  bool contains(char16_t c) const {
    if (c < 128) return (ascii_[c >> 6] >> (c & 63)) & 1;
    return beyondAscii_ && members_.contains(QChar(c));
  }

 private:
  std::uint64_t ascii_[2] = {0, 0};
  bool beyondAscii_ = false;
  QStringView members_;
};

const char16_t* begin(const QString& text) {
  return reinterpret_cast<const char16_t*>(text.utf16());
}

// Puts the whole replacement in place of each code unit for which `isHit` holds.
// Returns `text` itself, without a copy, when nothing is hit: most values of a
// cleaned column are already clean. Removals and one-unit replacements, the
// common cases, run without branches on the data.
template <class IsHit>
QString replaceEach(const QString& text, IsHit isHit, QStringView replacement) {
  const char16_t* const first = begin(text);
  const char16_t* const last = first + text.size();
  qsizetype hits = 0;
  for (const char16_t* c = first; c != last; ++c) hits += isHit(*c);
  if (hits == 0) return text;

  const qsizetype resultSize = text.size() + hits * (replacement.size() - 1);
  QString result(std::max(resultSize, text.size()), Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(result.data());
  if (replacement.isEmpty()) {
    // Every unit is written, and the write position moves past the kept ones only.
    for (const char16_t* c = first; c != last; ++c) {
      *out = *c;
      out += !isHit(*c);
    }
  } else if (replacement.size() == 1) {
    const char16_t substitute = replacement.front().unicode();
    for (const char16_t* c = first; c != last; ++c) *out++ = isHit(*c) ? substitute : *c;
  } else {
    for (const char16_t* c = first; c != last; ++c) {
      if (isHit(*c)) {
        out = std::copy_n(replacement.utf16(), replacement.size(), out);
      } else {
        *out++ = *c;
      }
    }
  }
  result.resize(resultSize);
  return result;
}

QString replaceCodeUnit(const QString& text, char16_t search, QStringView replacement) {
  return replaceEach(
      text, [search](char16_t c) { return c == search; }, replacement);
}

// Left to right, occurrences never overlap and what was emitted is never scanned again.
QString replaceEvery(const QString& text, QStringView search, QStringView replacement) {
  if (search.isEmpty()) return text;
  if (search.size() == 1) return replaceCodeUnit(text, search.front().unicode(), replacement);

  const QStringView whole(text);
  qsizetype match = whole.indexOf(search);
  if (match < 0) return text;
  QString result;
  result.reserve(text.size());
  qsizetype from = 0;
  do {
    result.append(whole.sliced(from, match - from)).append(replacement);
    from = match + search.size();
    match = whole.indexOf(search, from);
  } while (match >= 0);
  result.append(whole.sliced(from));
  return result;
}

void requireNotNegative(qint16 n) {
  if (n < 0) throw std::invalid_argument("Invalid procedure call or argument");
}

// The start position n + 1 must itself be a 16-bit value.
void requireSuccessorFits(qint16 n) {
  if (n == INT16_MAX) throw std::overflow_error("Overflow");
}

}  // namespace

QString ReplaceCharacterSet(const QString& text, QStringView characterSet,
                            const QString& replacement, bool invert) {
  const CodeUnitSet set(characterSet);
  return replaceEach(
      text, [&](char16_t c) { return set.contains(c) != invert; }, replacement);
}

QString RemoveCharacterSet(const QString& text, QStringView characterSet, bool invert) {
  return ReplaceCharacterSet(text, characterSet, QString(), invert);
}

QString RemoveAllSpaces(const QString& text) {
  return replaceCodeUnit(text, Space, {});
}

QString ReplaceAllSpaces(const QString& text, const QString& replacement) {
  return replaceCodeUnit(text, Space, replacement);
}

QString RemoveLeadingSpaces(const QString& text) {
  const auto first = std::find_if(text.begin(), text.end(), [](QChar c) { return c != Space; });
  return first == text.begin() ? text : text.sliced(first - text.begin());
}

QString RemoveTrailingSpaces(const QString& text) {
  qsizetype kept = text.size();
  while (kept > 0 && text[kept - 1] == Space) --kept;
  return kept == text.size() ? text : text.first(kept);
}

// Same result as halving double spaces until none is left, then trimming both
// ends, in one pass: every run of spaces between words becomes one space.
QString CollapseSpaces(const QString& text) {
  QString result;
  result.reserve(text.size());
  bool spaceBefore = false;
  for (QChar c : text) {
    if (c == Space) {
      spaceBefore = true;
      continue;
    }
    if (spaceBefore && !result.isEmpty()) result.append(Space);
    spaceBefore = false;
    result.append(c);
  }
  // Only removals happen, so an equal length means an equal text.
  return result.size() == text.size() ? text : result;
}

QString RemoveEnters(const QString& text) {
  return replaceEach(
      text, [](char16_t c) { return c == LineFeed || c == CarriageReturn; }, u" ");
}

// Two passes, so that a carriage return that a line feed's replacement brought in is
// replaced in its turn.
QString ReplaceEnters(const QString& text, const QString& replacement) {
  return replaceCodeUnit(replaceCodeUnit(text, LineFeed, replacement), CarriageReturn, replacement);
}

QString RemoveTabs(const QString& text) {
  return replaceCodeUnit(text, Tab, {});
}

QString ReplaceTabs(const QString& text, const QString& replacement) {
  return replaceCodeUnit(text, Tab, replacement);
}

QString RemoveAlphabetCharacters(const QString& text) {
  return RemoveCharacterSet(text, Letters, false);
}

QString ReplaceAlphabetCharacters(const QString& text, const QString& replacement) {
  return ReplaceCharacterSet(text, Letters, replacement, false);
}

QString RemoveNumericCharacters(const QString& text) {
  return RemoveCharacterSet(text, Digits, false);
}

QString ReplaceNumericCharacters(const QString& text, const QString& replacement) {
  return ReplaceCharacterSet(text, Digits, replacement, false);
}

QString RemoveAlphanumericCharacters(const QString& text) {
  return RemoveCharacterSet(text, Alphanumerics, false);
}

QString ReplaceAlphanumericCharacters(const QString& text, const QString& replacement) {
  return ReplaceCharacterSet(text, Alphanumerics, replacement, false);
}

QString RemoveNonAlphanumericCharacters(const QString& text) {
  return RemoveCharacterSet(text, Alphanumerics, true);
}

// Unlike its removing twin, this one leaves spaces in place.
QString ReplaceNonAlphanumericCharacters(const QString& text, const QString& replacement) {
  return ReplaceCharacterSet(text, AlphanumericsAndSpace, replacement, true);
}

QString RemoveUserDefinedCharacters(const QString& text, const QString& searchText) {
  return replaceEvery(text, searchText, {});
}

QString ReplaceUserDefinedCharacters(const QString& text, const QString& searchText,
                                     const QString& replacement) {
  return replaceEvery(text, searchText, replacement);
}

// The delimiter functions leave the text unchanged when the delimiter is empty or absent.
QString RemoveTextAfterCharacters(const QString& text, const QString& delimiter) {
  const qsizetype at = delimiter.isEmpty() ? -1 : text.indexOf(delimiter);
  return at < 0 ? text : text.first(at + delimiter.size());
}

QString ReplaceTextAfterCharacters(const QString& text, const QString& delimiter,
                                   const QString& replacement) {
  const qsizetype at = delimiter.isEmpty() ? -1 : text.indexOf(delimiter);
  return at < 0 ? text : text.first(at + delimiter.size()) + replacement;
}

QString RemoveTextBeforeCharacters(const QString& text, const QString& delimiter) {
  const qsizetype at = delimiter.isEmpty() ? -1 : text.indexOf(delimiter);
  return at < 0 ? text : text.sliced(at);
}

QString ReplaceTextBeforeCharacters(const QString& text, const QString& delimiter,
                                    const QString& replacement) {
  const qsizetype at = delimiter.isEmpty() ? -1 : text.indexOf(delimiter);
  return at < 0 ? text : replacement + text.sliced(at);
}

QString RemoveFirstCharacters(const QString& text, qint16 count) {
  requireNotNegative(count);
  requireSuccessorFits(count);
  return count >= text.size() ? QString() : text.sliced(count);
}

QString RemoveLastCharacters(const QString& text, qint16 count) {
  const qsizetype kept = text.size() - count;
  if (kept >= text.size()) return text;
  return kept <= 0 ? QString() : text.first(kept);
}

QString RemoveTextAfterPosition(const QString& text, qint16 position) {
  requireNotNegative(position);
  return position >= text.size() ? text : text.first(position);
}

QString RemoveTextBeforePosition(const QString& text, qint16 position) {
  return RemoveFirstCharacters(text, position);
}

}  // namespace Fundamental
