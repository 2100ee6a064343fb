#pragma once

#include <QString>
#include <ostream>

// Lets GoogleTest show a QString that differs as readable text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
