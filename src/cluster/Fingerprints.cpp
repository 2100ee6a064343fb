#include "Fingerprints.h"

#include <unicode/translit.h>

#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <QString>

#include <algorithm>
#include <array>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr char32_t Separator = U' ';

// Accents and other marks folded to their base letters, and Latin letters to ASCII ones:
// "é" to "e", "ß" to "ss", "ø" to "o". Scripts other than Latin keep their letters.
icu::Transliterator& markFolding() {
  // A transliterator is not shared between threads: each clusters with its own.
  thread_local const std::unique_ptr<icu::Transliterator> folding = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> made(icu::Transliterator::createInstance(
        "NFKD; [:Nonspacing Mark:] Remove; Latin-ASCII; NFC", UTRANS_FORWARD, status));
    if (U_FAILURE(status) || !made) {
      throw std::runtime_error(std::string("ICU cannot fold accents: ") + u_errorName(status));
    }
    return made;
  }();
  return *folding;
}

enum class Kind { Kept, Dropped, Space };

// Punctuation and control, format and unassigned characters go; white space separates.
Kind kindOf(char32_t c) {
  if (u_isUWhiteSpace(UChar32(c))) return Kind::Space;
  switch (u_charType(UChar32(c))) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_PRIVATE_USE_CHAR:
    case U_SURROGATE:
    case U_UNASSIGNED:
    case U_DASH_PUNCTUATION:
    case U_START_PUNCTUATION:
    case U_END_PUNCTUATION:
    case U_CONNECTOR_PUNCTUATION:
    case U_OTHER_PUNCTUATION:
    case U_INITIAL_PUNCTUATION:
    case U_FINAL_PUNCTUATION:
      return Kind::Dropped;
    default:
      return Kind::Kept;
  }
}

// ASCII text, by far the most common, is normalized without ICU by the same rules.
const std::array<Kind, 128>& asciiKinds() {
  static const std::array<Kind, 128> kinds = [] {
    std::array<Kind, 128> made{};
    for (char32_t c = 0; c < 128; ++c) made[c] = kindOf(c);
    return made;
  }();
  return kinds;
}

// Appends `c` to the normalized text: one separator between words, none at either end.
void append(std::u32string& out, char32_t c, Kind kind) {
  if (kind == Kind::Dropped) return;
  if (kind == Kind::Space) {
    if (!out.empty() && out.back() != Separator) out.push_back(Separator);
    return;
  }
  out.push_back(c);
}

std::u32string normalized(QByteArrayView utf8) {
  std::u32string out;
  out.reserve(std::size_t(utf8.size()));
  const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return uchar(c) < 0x80; });
  if (ascii) {
    for (char c : utf8) {
      const char32_t lower = char32_t(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      append(out, lower, asciiKinds()[lower]);
    }
  } else {
    icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), int32_t(utf8.size())));
    text.foldCase();
    markFolding().transliterate(text);
    for (int32_t i = 0; i < text.length();) {
      const UChar32 c = text.char32At(i);
      append(out, char32_t(c), kindOf(char32_t(c)));
      i += U16_LENGTH(c);
    }
  }
  if (!out.empty() && out.back() == Separator) out.pop_back();
  return out;
}

QByteArray utf8Of(std::u32string_view text) {
  return QString::fromUcs4(text.data(), qsizetype(text.size())).toUtf8();
}

// The pieces sorted by their bytes, each once, joined by `glue`.
QByteArray joinedSet(std::vector<QByteArray> pieces, QByteArrayView glue) {
  std::sort(pieces.begin(), pieces.end());
  pieces.erase(std::unique(pieces.begin(), pieces.end()), pieces.end());
  QByteArray joined;
  for (const QByteArray& piece : pieces) {
    if (!joined.isEmpty()) joined += glue;
    joined += piece;
  }
  return joined;
}

}  // namespace

QByteArray Fingerprint(QByteArrayView utf8) {
  const std::u32string text = normalized(utf8);
  std::vector<QByteArray> words;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find(Separator, start);
    if (end == std::u32string::npos) end = text.size();
    words.push_back(utf8Of(std::u32string_view(text).substr(start, end - start)));
    start = end + 1;
  }
  return joinedSet(std::move(words), " ");
}

QByteArray NgramFingerprint(QByteArrayView utf8, int n) {
  std::u32string text = normalized(utf8);
  std::erase(text, Separator);
  const std::size_t size = std::size_t(std::max(n, 1));
  if (text.size() <= size) return utf8Of(text);
  std::vector<QByteArray> grams;
  grams.reserve(text.size() - size + 1);
  for (std::size_t i = 0; i + size <= text.size(); ++i) {
    grams.push_back(utf8Of(std::u32string_view(text).substr(i, size)));
  }
  return joinedSet(std::move(grams), {});
}
