#pragma once

#include <QString>

// Invisible characters made visible, for the values a preview shows: each has a mark of
// its own.

// The mark shown for `c`; a null character when `c` shows itself.
QChar VisibleMark(QChar c);
// `text` with every invisible character replaced by its mark.
QString WithVisibleMarks(const QString& text);
// What each mark stands for, in one line.
extern const QString VisibleMarksLegend;

// Where two values differ: from `start` for `beforeLength` code units of the first and
// `afterLength` of the second; the rest is common to both.
struct ChangedSpan {
  qsizetype start = 0;
  qsizetype beforeLength = 0;
  qsizetype afterLength = 0;
};
ChangedSpan ChangedSpanOf(const QString& before, const QString& after);
