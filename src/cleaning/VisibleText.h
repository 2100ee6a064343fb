#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

// Invisible characters made visible, for the values a preview shows: each has a mark of
// its own.

// The mark shown for `c`; a null character when `c` shows itself.
QChar VisibleMark(QChar c);
// `text` with every control character but the line feed replaced by its mark: safe to
// print on a terminal, which would obey them.
QString WithControlMarks(const QString& text);
// `text` with every invisible character replaced by its mark.
QString WithVisibleMarks(const QString& text);
// Appends UTF-8 `text` to `out` with every invisible character replaced by its mark's
// UTF-8: the same marks, without going through UTF-16.
void AppendWithVisibleMarks(QByteArray& out, QByteArrayView text);
// Whether bytes are text in UTF-8; a binary column's may not be.
bool IsUtf8(QByteArrayView bytes);
// What each mark stands for, in one line.
extern const QString VisibleMarksLegend;

// The code units of each value that the other lacks: what is left once the longest
// common subsequence is taken away. Values too long for that are compared by their
// common beginning and end only. A character is never marked in half.
struct ChangedParts {
  std::vector<bool> before;
  std::vector<bool> after;
};
ChangedParts ChangedPartsOf(const QString& before, const QString& after);
