#include "NumberText.h"

#include <QLocale>
#include <cmath>
#include <optional>
#include <stdexcept>

namespace {

bool isNumber(const QString& text) {
  bool ok = false;
  const double number = QLocale::system().toDouble(text.trimmed(), &ok);
  return ok && std::isfinite(number);
}

// A number as its decimal digits: the value is 0.digits × 10^point, with a sign.
struct Decimal {
  bool negative = false;
  QString digits;  // no leading zeros; empty for zero
  qint64 point = 0;
};

// Reads a text that the locale accepts as a number, digit by digit, so that nothing is
// rounded on the way: the locale's signs, decimal point, group separator and exponent
// mark, and any script's decimal digits.
Decimal decimalOf(const QString& text) {
  const QLocale locale = QLocale::system();
  const QString decimalPoint = locale.decimalPoint();
  Decimal number;
  QString integerDigits;
  QString fractionDigits;
  qint64 exponent = 0;
  bool exponentNegative = false;
  enum { Integer, Fraction, Exponent } part = Integer;
  const QString trimmed = text.trimmed();
  for (qsizetype at = 0; at < trimmed.size(); ++at) {
    const QStringView rest = QStringView(trimmed).sliced(at);
    const QChar c = trimmed[at];
    const int digit = c.digitValue();
    if (digit >= 0) {
      if (part == Integer) integerDigits += QChar(u'0' + digit);
      if (part == Fraction) fractionDigits += QChar(u'0' + digit);
      // Beyond any exponent a 16-bit number can use; the locale read it as finite.
      if (part == Exponent && exponent < 1'000'000'000) exponent = exponent * 10 + digit;
    } else if (rest.startsWith(locale.negativeSign()) || c == u'-') {
      (part == Exponent ? exponentNegative : number.negative) = true;
    } else if (part == Integer && rest.startsWith(decimalPoint)) {
      part = Fraction;
    } else if (rest.startsWith(locale.exponential(), Qt::CaseInsensitive) || c == u'e' ||
               c == u'E') {
      part = Exponent;
    }
    // Plus signs and group separators add nothing.
  }
  const QString digits = integerDigits + fractionDigits;
  qsizetype zeros = 0;
  while (zeros < digits.size() && digits[zeros] == u'0') ++zeros;
  number.digits = digits.sliced(zeros);
  number.point = integerDigits.size() + (exponentNegative ? -exponent : exponent) - zeros;
  while (number.digits.endsWith(u'0')) number.digits.chop(1);
  return number;
}

// Rounds to the nearest integer, a half to the even neighbour; nullopt beyond 16 bits.
std::optional<qint32> roundedMagnitude(const Decimal& number) {
  if (number.digits.isEmpty() || number.point < 0) return 0;
  if (number.point > 5) return std::nullopt;  // at least 100000
  const qsizetype whole = qsizetype(number.point);
  qint32 magnitude = 0;
  for (qsizetype i = 0; i < whole; ++i) {
    magnitude = magnitude * 10 + (i < number.digits.size() ? number.digits[i].digitValue() : 0);
  }
  const QStringView fraction =
      whole < number.digits.size() ? QStringView(number.digits).sliced(whole) : QStringView();
  if (!fraction.isEmpty()) {
    const bool aboveHalf = fraction[0] > u'5' || (fraction[0] == u'5' && fraction.size() > 1);
    const bool exactlyHalf = fraction == u"5";
    if (aboveHalf || (exactlyHalf && magnitude % 2 == 1)) ++magnitude;
  }
  return magnitude;
}

}  // namespace

bool IsNumeric(const QString& text) {
  return isNumber(text);
}

qint16 ToInteger16(const QString& text) {
  if (!isNumber(text)) throw std::invalid_argument("Type mismatch");
  const Decimal number = decimalOf(text);
  const std::optional<qint32> magnitude = roundedMagnitude(number);
  const qint32 value = magnitude ? (number.negative ? -*magnitude : *magnitude) : 0;
  if (!magnitude || value < -32768 || value > 32767) throw std::overflow_error("Overflow");
  return qint16(value);
}
