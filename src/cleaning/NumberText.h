#pragma once

#include <QString>

// Numbers typed by the user, read in the user's number format (QLocale::system()),
// blanks before and after allowed.

// True when the text reads as a number; the empty text does not.
bool IsNumeric(const QString& text);

// The number rounded to a 16-bit integer, a half to the even neighbour ('2.5' gives 2,
// '3.5' gives 4). Throws std::invalid_argument ("Type mismatch") for a text that is not
// numeric and std::overflow_error ("Overflow") outside -32768..32767.
qint16 ToInteger16(const QString& text);
