#include "RegexReplace.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <memory>

namespace {

// Enough for any sensible pattern on any value; a pattern that backtracks without end
// stops here within a fraction of a second.
constexpr uint32_t MatchLimit = 1'000'000;
constexpr PCRE2_SIZE JitStackMax = 4 * 1024 * 1024;

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
    code.reset(pcre2_compile(units(pattern), PCRE2_SIZE(pattern.size()),
                             PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF, &error, &offset,
                             nullptr));
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
  throw std::runtime_error(libraryMessage(result).toStdString());
}

}  // namespace

QString RegexProblem(const QString& pattern, const QString& replacement) {
  return compiled(pattern, replacement).problem;
}

QString ReplaceRegex(const QString& text, const QString& pattern, const QString& replacement) {
  const Compiled& regex = compiled(pattern, replacement);
  if (!regex.problem.isEmpty()) throw std::invalid_argument(regex.problem.toStdString());
  // Most values hold no match: they are handed back as they are, without a copy.
  const int found = pcre2_match(regex.code.get(), units(text), PCRE2_SIZE(text.size()), 0, 0,
                                regex.matches.get(), regex.context.get());
  if (found == PCRE2_ERROR_NOMATCH) return text;
  throwIfFailed(found);
  uint32_t options = PCRE2_SUBSTITUTE_GLOBAL | PCRE2_SUBSTITUTE_UNSET_EMPTY |
                     PCRE2_SUBSTITUTE_OVERFLOW_LENGTH | PCRE2_SUBSTITUTE_MATCHED;
  QString out(text.size() + text.size() / 4 + 16, Qt::Uninitialized);
  for (;;) {
    PCRE2_SIZE length = PCRE2_SIZE(out.size());
    const int result = pcre2_substitute(regex.code.get(), units(text), PCRE2_SIZE(text.size()), 0,
                                        options, regex.matches.get(), regex.context.get(),
                                        units(replacement), PCRE2_SIZE(replacement.size()),
                                        reinterpret_cast<PCRE2_UCHAR*>(out.data()), &length);
    if (result == PCRE2_ERROR_NOMEMORY) {
      // The first match was used up: the second attempt starts from the beginning.
      options &= ~PCRE2_SUBSTITUTE_MATCHED;
      out.resize(qsizetype(length));
      continue;
    }
    throwIfFailed(result);
    out.truncate(qsizetype(length));
    return out;
  }
}
