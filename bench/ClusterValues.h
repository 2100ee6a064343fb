#pragma once

#include <QByteArray>
#include <vector>

// `count` distinct values as a column of names holds them: most made of two or three
// invented words, a sixth of them another spelling of one of those (a case changed, a
// letter doubled, dropped or swapped, an accent, a space or full stop more). The same
// values on every run.
std::vector<QByteArray> NameLikeValues(int count);
