#include "RegexReplace.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <chrono>
#include <memory>

namespace {

// Enough for any sensible pattern on any value; a pattern that backtracks without end
// stops here within a fraction of a second.
constexpr uint32_t MatchLimit = 1'000'000;
constexpr PCRE2_SIZE JitStackMax = 4 * 1024 * 1024;
// However many matches a value holds, its replacement ends within this time.
constexpr auto ValueTimeLimit = std::chrono::seconds(5);
// Matches between two looks at the clock and at the interruption.
constexpr int MatchesPerLook = 256;

thread_local std::function<bool()> interruption;

PCRE2_SPTR units(const QString& text) {
  return reinterpret_cast<PCRE2_SPTR>(text.utf16());
}

QString libraryMessage(int code) {
  PCRE2_UCHAR buffer[256];
  const int length = pcre2_get_error_message(code, buffer, std::size(buffer));
  return length < 0 ? QStringLiteral("error %1").arg(code)
                    : QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), length);
}

bool isWordUnit(QChar c) {
  return c.isDigit() || (c.unicode() < 128 && (c.isLetter() || c == u'_'));
}

// The groups that the replacement names must exist: a typo would otherwise empty the
// matches of every value.
QString replacementProblem(const pcre2_code* code, const QString& replacement) {
  uint32_t groups = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &groups);
  const qsizetype size = replacement.size();
  for (qsizetype i = 0; i < size; ++i) {
    if (replacement[i] != u'$') continue;
    const qsizetype dollar = i++;
    if (i < size && replacement[i] == u'$') continue;
    const bool braced = i < size && replacement[i] == u'{';
    if (braced) ++i;
    const qsizetype start = i;
    const bool mark = i < size && replacement[i] == u'*';
    if (mark) ++i;
    const bool number = !mark && i < size && replacement[i].isDigit();
    while (i < size && (number ? replacement[i].isDigit() : isWordUnit(replacement[i]))) ++i;
    const QString reference = replacement.mid(start, i - start);
    const bool closed = !braced || (i < size && replacement[i] == u'}');
    if (!braced) --i;
    if (reference.isEmpty() || reference == u"*" || !closed) {
      return QStringLiteral(
                 "The replacement has a \"$\" at position %1 that names no group: "
                 "write \"$$\" for a dollar sign.")
          .arg(dollar + 1);
    }
    if (mark) continue;
    const bool exists = number ? reference.toUInt() <= groups
                               : pcre2_substring_number_from_name(code, units(reference)) >= 0;
    if (!exists) {
      return QStringLiteral(
                 "The replacement refers to group %1, which the regular expression "
                 "does not have.")
          .arg(reference);
    }
  }
  return {};
}

// A compiled pattern with what matching it needs, kept per thread for the last pattern
// used: a run applies one pattern to every value.
struct Compiled {
  QString pattern;
  QString replacement;
  QString problem;
  std::unique_ptr<pcre2_code, decltype(&pcre2_code_free)> code{nullptr, pcre2_code_free};
  std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> matches{
      nullptr, pcre2_match_data_free};
  std::unique_ptr<pcre2_match_context, decltype(&pcre2_match_context_free)> context{
      nullptr, pcre2_match_context_free};
  std::unique_ptr<pcre2_jit_stack, decltype(&pcre2_jit_stack_free)> jitStack{nullptr,
                                                                             pcre2_jit_stack_free};

  Compiled(const QString& pattern, const QString& replacement)
      : pattern(pattern), replacement(replacement) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code.reset(pcre2_compile(units(pattern), PCRE2_SIZE(pattern.size()), PCRE2_UTF | PCRE2_UCP,
                             &error, &offset, nullptr));
    if (!code) {
      problem = QStringLiteral("Invalid regular expression at offset %1: %2")
                    .arg(offset)
                    .arg(libraryMessage(error));
      return;
    }
    problem = replacementProblem(code.get(), replacement);
    if (!problem.isEmpty()) return;
    matches.reset(pcre2_match_data_create_from_pattern(code.get(), nullptr));
    context.reset(pcre2_match_context_create(nullptr));
    pcre2_set_match_limit(context.get(), MatchLimit);
    // Without JIT (a platform without it) the interpreter gives the same results.
    if (pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE) == 0) {
      jitStack.reset(pcre2_jit_stack_create(32 * 1024, JitStackMax, nullptr));
      pcre2_jit_stack_assign(context.get(), nullptr, jitStack.get());
    }
  }
};

const Compiled& compiled(const QString& pattern, const QString& replacement) {
  thread_local std::unique_ptr<Compiled> last;
  if (!last || last->pattern != pattern || last->replacement != replacement) {
    last = std::make_unique<Compiled>(pattern, replacement);
  }
  return *last;
}

bool isLimit(int code) {
  return code == PCRE2_ERROR_MATCHLIMIT || code == PCRE2_ERROR_DEPTHLIMIT ||
         code == PCRE2_ERROR_HEAPLIMIT || code == PCRE2_ERROR_JIT_STACKLIMIT;
}

void throwIfFailed(int result) {
  if (result >= 0) return;
  if (isLimit(result)) {
    throw RegexLimitError(
        QStringLiteral("The regular expression takes too many steps on this value (%1), so the "
                       "value was left as it was.")
            .arg(libraryMessage(result))
            .toStdString());
  }
  if (result >= PCRE2_ERROR_UTF32_ERR2 && result <= PCRE2_ERROR_UTF8_ERR1) {
    throw RegexLimitError(QStringLiteral("The value is not valid Unicode text (%1), so it was "
                                         "left as it was.")
                              .arg(libraryMessage(result))
                              .toStdString());
  }
  throw std::runtime_error(libraryMessage(result).toStdString());
}

}  // namespace

QString RegexProblem(const QString& pattern, const QString& replacement) {
  return compiled(pattern, replacement).problem;
}

RegexInterruption::RegexInterruption(std::function<bool()> interrupted) {
  interruption = std::move(interrupted);
}

RegexInterruption::~RegexInterruption() {
  interruption = nullptr;
}

namespace {

// Appends the replacement of the match that `regex.matches` holds.
void appendReplacement(QString& out, const Compiled& regex, const QString& text,
                       const QString& replacement, PCRE2_SIZE start) {
  const uint32_t options = PCRE2_SUBSTITUTE_MATCHED | PCRE2_SUBSTITUTE_REPLACEMENT_ONLY |
                           PCRE2_SUBSTITUTE_UNSET_EMPTY | PCRE2_SUBSTITUTE_OVERFLOW_LENGTH;
  const qsizetype at = out.size();
  PCRE2_SIZE length = PCRE2_SIZE(replacement.size()) + 16;
  for (;;) {
    out.resize(at + qsizetype(length));
    const int result = pcre2_substitute(regex.code.get(), units(text), PCRE2_SIZE(text.size()),
                                        start, options, regex.matches.get(), regex.context.get(),
                                        units(replacement), PCRE2_SIZE(replacement.size()),
                                        reinterpret_cast<PCRE2_UCHAR*>(out.data() + at), &length);
    if (result == PCRE2_ERROR_NOMEMORY) continue;  // `length` now says what it needs
    throwIfFailed(result);
    out.truncate(at + qsizetype(length));
    return;
  }
}

void lookAtTheTime(const std::chrono::steady_clock::time_point& deadline) {
  if (interruption && interruption()) {
    throw RegexLimitError("The replacement was interrupted, so the value was left as it was.");
  }
  if (std::chrono::steady_clock::now() > deadline) {
    throw RegexLimitError(
        QStringLiteral("The regular expression takes more than %1 seconds on this value, so the "
                       "value was left as it was.")
            .arg(std::chrono::seconds(ValueTimeLimit).count())
            .toStdString());
  }
}

}  // namespace

// Every match, one after another: after an empty match the next may not be empty at the
// same place, and where none is, the search goes on one character further.
QString ReplaceRegex(const QString& text, const QString& pattern, const QString& replacement) {
  const Compiled& regex = compiled(pattern, replacement);
  if (!regex.problem.isEmpty()) throw std::invalid_argument(regex.problem.toStdString());
  const PCRE2_SIZE length = PCRE2_SIZE(text.size());
  const auto deadline = std::chrono::steady_clock::now() + ValueTimeLimit;
  QString out;
  bool matched = false;
  PCRE2_SIZE copied = 0, from = 0;
  uint32_t options = 0;
  for (int matches = 0;; ++matches) {
    if (matches % MatchesPerLook == MatchesPerLook - 1) lookAtTheTime(deadline);
    // The value was checked once, by the first search.
    const uint32_t checked = matches > 0 ? PCRE2_NO_UTF_CHECK : 0;
    const int found = pcre2_match(regex.code.get(), units(text), length, from, options | checked,
                                  regex.matches.get(), regex.context.get());
    if (found == PCRE2_ERROR_NOMATCH) {
      if (options == 0 || from >= length) break;
      // No non-empty match here: one character on, a surrogate pair whole.
      from += QChar::isHighSurrogate(text.at(qsizetype(from)).unicode()) && from + 1 < length &&
                      QChar::isLowSurrogate(text.at(qsizetype(from + 1)).unicode())
                  ? 2
                  : 1;
      options = 0;
      continue;
    }
    throwIfFailed(found);
    // Most values hold no match: they are handed back as they are, without a copy.
    if (!matched) out.reserve(text.size() + text.size() / 4 + 16);
    matched = true;
    const PCRE2_SIZE* range = pcre2_get_ovector_pointer(regex.matches.get());
    out.append(QStringView(text).sliced(qsizetype(copied), qsizetype(range[0] - copied)));
    appendReplacement(out, regex, text, replacement, from);
    copied = from = range[1];
    options = range[0] == range[1] ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0;
  }
  if (!matched) return text;
  out.append(QStringView(text).sliced(qsizetype(copied)));
  return out;
}
