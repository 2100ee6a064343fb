#pragma once

#include <QString>
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

// `text` with every match of `pattern` replaced. After an empty match the next match may
// not be empty at the same place, so "x*" turns "ab" into "-a-b-" with "-". Throws
// std::invalid_argument for what RegexProblem names, RegexLimitError past the limit.
QString ReplaceRegex(const QString& text, const QString& pattern, const QString& replacement);
