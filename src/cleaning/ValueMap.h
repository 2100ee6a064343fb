#pragma once

#include <QString>

// map-values: whole values replaced by their new text, as a JSON array of [old, new]
// pairs ([["N.Y.", "New York"], ["NY", "New York"]]). A value is replaced only when it
// equals an old text exactly, character for character; every other value stays.

// Why the text is no such map (not JSON, not pairs of texts, an old text twice); empty
// when it is one.
QString ValueMapProblem(const QString& map);
// `text` as the map makes it.
QString MapValue(const QString& text, const QString& map);
