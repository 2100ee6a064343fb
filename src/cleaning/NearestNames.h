#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// The candidates nearest to a mistyped name (ignoring case), when one is a few letters
// away; else none.
QStringList NearestNames(QStringView name, const QStringList& candidates);
// " (did you mean a or b?)" for the nearest names, empty for none.
QString DidYouMean(const QStringList& nearest);
