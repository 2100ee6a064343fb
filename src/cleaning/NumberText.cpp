#include "NumberText.h"

#include <QLocale>
#include <cmath>
#include <optional>
#include <stdexcept>

namespace {
std::optional<double> numberIn(const QString& text) {
  bool ok = false;
  const double number = QLocale::system().toDouble(text.trimmed(), &ok);
  if (!ok || !std::isfinite(number)) return std::nullopt;
  return number;
}
}  // namespace

bool IsNumeric(const QString& text) {
  return numberIn(text).has_value();
}

qint16 ToInteger16(const QString& text) {
  const std::optional<double> number = numberIn(text);
  if (!number) throw std::invalid_argument("Type mismatch");
  // The default rounding mode takes a half to the even neighbour.
  const double rounded = std::nearbyint(*number);
  if (rounded < -32768.0 || rounded > 32767.0) throw std::overflow_error("Overflow");
  return qint16(rounded);
}
