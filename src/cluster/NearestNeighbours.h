#pragma once

#include <QByteArray>
#include <functional>
#include <optional>
#include <vector>

// Groups of values linked by edits: two values are neighbours when at most `radius`
// characters must be inserted, deleted or replaced to turn one into the other (Levenshtein,
// by characters, not bytes), and a group holds every value reached from neighbour to
// neighbour. Only values that share a run of `block` characters are compared (a value
// shorter than that is one run of its own): a smaller block finds more and costs more.
// Each group is given by the indexes of its values in `values`, at least two; nothing when
// `goOn` (told how many of the values are done) returned false.
std::optional<std::vector<std::vector<int>>> NeighbourGroups(
    const std::vector<QByteArray>& values, int radius, int block,
    const std::function<bool(qint64 done)>& goOn);
