#pragma once

#include <QString>
#include <functional>
#include <stdexcept>

// Regular-expression replacement with PCRE2: Unicode patterns over the whole value, every
// match replaced. In the replacement, $1 to $9 (or ${12}) and ${name} stand for groups and
// $$ for a dollar; nothing else is special.

// Why the pattern or the replacement cannot be used, in words ("Invalid regular expression
// at offset 4: missing closing parenthesis"); empty when both can.
QString RegexProblem(const QString& pattern, const QString& replacement);

// A value on which the pattern would backtrack beyond the match limit.
class RegexLimitError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// While it lives, ReplaceRegex on this thread asks `interrupted` now and then, and ends
// with RegexLimitError when it says yes: a run's Stop ends a long value at once.
class RegexInterruption {
 public:
  explicit RegexInterruption(std::function<bool()> interrupted);
  ~RegexInterruption();
  RegexInterruption(const RegexInterruption&) = delete;
  RegexInterruption& operator=(const RegexInterruption&) = delete;
};

// `text` with every match of `pattern` replaced. After an empty match the next match may
// not be empty at the same place, so "x*" turns "ab" into "-a-b-" with "-". Throws
// std::invalid_argument for what RegexProblem names, RegexLimitError past the limits of
// steps or time, or when interrupted.
QString ReplaceRegex(const QString& text, const QString& pattern, const QString& replacement);
