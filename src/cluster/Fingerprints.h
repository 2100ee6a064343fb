#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The keys by which spellings of one thing collide. Both first normalize the text: trim
// it, fold its case (Unicode's full folding), fold accents and other marks to their base
// letters (ICU's transliteration: "ß" to "ss", "Zoë" to "zoe"), drop punctuation and
// control and format characters (so that invisible characters do not count).

// The normalized words, sorted, each once, joined by one space: "Lee, Ann" and "ann lee"
// give "ann lee".
QByteArray Fingerprint(QByteArrayView utf8);
// The normalized text without its spaces, cut into every run of `n` characters (the whole
// text when shorter), sorted, each once, joined.
QByteArray NgramFingerprint(QByteArrayView utf8, int n);
