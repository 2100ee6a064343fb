#pragma once

// The text transformations behind the cleaning operations. Pure functions: a
// character is one UTF-16 code unit, positions count from 1, every match is
// exact and case-sensitive, and the only space is U+0020.

#include <QString>
#include <QStringView>

namespace Fundamental {

inline constexpr QStringView Letters = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr QStringView Digits = u"0123456789";
inline constexpr QStringView Alphanumerics =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
inline constexpr QStringView AlphanumericsAndSpace =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 ";

// invert false drops the set's members; invert true keeps only them.
QString RemoveCharacterSet(const QString& text, QStringView characterSet, bool invert);
// invert false replaces each member by the whole replacement; invert true each non-member.
QString ReplaceCharacterSet(const QString& text, QStringView characterSet,
                            const QString& replacement, bool invert);

QString RemoveAllSpaces(const QString& text);
QString ReplaceAllSpaces(const QString& text, const QString& replacement);
QString RemoveLeadingSpaces(const QString& text);
QString RemoveTrailingSpaces(const QString& text);
QString CollapseSpaces(const QString& text);
QString RemoveEnters(const QString& text);
QString ReplaceEnters(const QString& text, const QString& replacement);
QString RemoveTabs(const QString& text);
QString ReplaceTabs(const QString& text, const QString& replacement);
QString RemoveAlphabetCharacters(const QString& text);
QString ReplaceAlphabetCharacters(const QString& text, const QString& replacement);
QString RemoveNumericCharacters(const QString& text);
QString ReplaceNumericCharacters(const QString& text, const QString& replacement);
QString RemoveAlphanumericCharacters(const QString& text);
QString ReplaceAlphanumericCharacters(const QString& text, const QString& replacement);
QString RemoveNonAlphanumericCharacters(const QString& text);
QString ReplaceNonAlphanumericCharacters(const QString& text, const QString& replacement);
QString RemoveUserDefinedCharacters(const QString& text, const QString& searchText);
QString ReplaceUserDefinedCharacters(const QString& text, const QString& searchText,
                                     const QString& replacement);
QString RemoveTextAfterCharacters(const QString& text, const QString& delimiter);
QString ReplaceTextAfterCharacters(const QString& text, const QString& delimiter,
                                   const QString& replacement);
QString RemoveTextBeforeCharacters(const QString& text, const QString& delimiter);
QString ReplaceTextBeforeCharacters(const QString& text, const QString& delimiter,
                                    const QString& replacement);

// These three throw std::invalid_argument for a negative n; the two that start
// at n + 1 throw std::overflow_error for 32767, whose successor has no 16-bit value.
QString RemoveFirstCharacters(const QString& text, qint16 count);
QString RemoveTextAfterPosition(const QString& text, qint16 position);
QString RemoveTextBeforePosition(const QString& text, qint16 position);
// Total: a negative count keeps the text, a count beyond its length empties it.
QString RemoveLastCharacters(const QString& text, qint16 count);

}  // namespace Fundamental
