#include "NearestNeighbours.h"

#include <edlib.h>

#include <QList>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <string>
#include <string_view>

namespace {

// The values as characters, one after another, with where each begins.
struct Characters {
  std::u32string all;
  std::vector<std::size_t> starts;  // and one past the last
  std::vector<bool> ascii;

  explicit Characters(const std::vector<QByteArray>& values) {
    starts.reserve(values.size() + 1);
    ascii.reserve(values.size());
    for (const QByteArray& value : values) {
      starts.push_back(all.size());
      const QList<uint> ucs4 = QString::fromUtf8(value).toUcs4();
      all.append(ucs4.begin(), ucs4.end());
      ascii.push_back(std::all_of(ucs4.begin(), ucs4.end(), [](uint c) { return c < 0x80; }));
    }
    starts.push_back(all.size());
  }
  std::u32string_view of(int i) const {
    return std::u32string_view(all).substr(starts[std::size_t(i)],
                                           starts[std::size_t(i) + 1] - starts[std::size_t(i)]);
  }
};

// A run of characters of one value, by its hash: values are compared when theirs meet.
struct BlockKey {
  std::uint64_t hash;
  int value;
  auto operator<=>(const BlockKey&) const = default;
};

std::uint64_t hashOf(std::u32string_view run) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char32_t c : run) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

std::vector<BlockKey> blockKeys(const Characters& characters, int count, std::size_t block) {
  std::vector<BlockKey> keys;
  for (int i = 0; i < count; ++i) {
    const std::u32string_view text = characters.of(i);
    if (text.size() <= block) {
      keys.push_back({hashOf(text), i});
      continue;
    }
    for (std::size_t at = 0; at + block <= text.size(); ++at) {
      keys.push_back({hashOf(text.substr(at, block)), i});
    }
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

// Edit distance within `radius`, by edlib, which takes bytes: the characters of the two
// values are numbered first when either holds one beyond ASCII.
class Distance {
 public:
  explicit Distance(int radius) : radius_(radius) {}

  bool within(std::u32string_view a, std::u32string_view b, bool ascii) {
    if (std::size_t(std::abs(std::ptrdiff_t(a.size()) - std::ptrdiff_t(b.size()))) >
        std::size_t(radius_)) {
      return false;
    }
    if (a.empty() || b.empty()) return true;  // as many insertions as the other is long
    if (!ascii && !numbered(a, b)) return slowWithin(a, b);
    const auto bytes = [&](std::u32string_view text, std::string& out) {
      out.resize(text.size());
      for (std::size_t i = 0; i < text.size(); ++i) {
        out[i] = char(ascii ? text[i] : numberOf(text[i]));
      }
    };
    bytes(a, a_);
    bytes(b, b_);
    const EdlibAlignResult result =
        edlibAlign(a_.data(), int(a_.size()), b_.data(), int(b_.size()),
                   edlibNewAlignConfig(radius_, EDLIB_MODE_NW, EDLIB_TASK_DISTANCE, nullptr, 0));
    const bool near = result.status == EDLIB_STATUS_OK && result.editDistance >= 0;
    edlibFreeAlignResult(result);
    return near;
  }

 private:
  // Numbers the characters of both values; false when they hold more than a byte numbers.
  bool numbered(std::u32string_view a, std::u32string_view b) {
    alphabet_.assign(a.begin(), a.end());
    alphabet_.append(b.begin(), b.end());
    std::sort(alphabet_.begin(), alphabet_.end());
    alphabet_.erase(std::unique(alphabet_.begin(), alphabet_.end()), alphabet_.end());
    return alphabet_.size() <= 256;
  }
  std::uint8_t numberOf(char32_t c) const {
    return std::uint8_t(std::lower_bound(alphabet_.begin(), alphabet_.end(), c) -
                        alphabet_.begin());
  }
  // Two values that hold more than 256 different characters between them: a row at a time.
  bool slowWithin(std::u32string_view a, std::u32string_view b) const {
    std::vector<int> row(b.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (std::size_t i = 1; i <= a.size(); ++i) {
      int diagonal = row[0];
      row[0] = int(i);
      int best = row[0];
      for (std::size_t j = 1; j <= b.size(); ++j) {
        const int above = row[j];
        row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
        diagonal = above;
        best = std::min(best, row[j]);
      }
      if (best > radius_) return false;
    }
    return row.back() <= radius_;
  }

  int radius_;
  std::string a_, b_;
  std::u32string alphabet_;
};

// The groups that neighbours join, kept as trees of representatives.
class Groups {
 public:
  explicit Groups(int count) : parent_(std::size_t(count)) {
    std::iota(parent_.begin(), parent_.end(), 0);
  }
  int root(int i) {
    while (parent_[std::size_t(i)] != i) {
      parent_[std::size_t(i)] = parent_[std::size_t(parent_[std::size_t(i)])];
      i = parent_[std::size_t(i)];
    }
    return i;
  }
  void join(int a, int b) { parent_[std::size_t(root(a))] = root(b); }
  std::vector<std::vector<int>> ofTwoOrMore() {
    std::vector<std::vector<int>> byRoot(parent_.size());
    for (int i = 0; i < int(parent_.size()); ++i) byRoot[std::size_t(root(i))].push_back(i);
    std::erase_if(byRoot, [](const std::vector<int>& group) { return group.size() < 2; });
    return byRoot;
  }

 private:
  std::vector<int> parent_;
};

}  // namespace

std::optional<std::vector<std::vector<int>>> NeighbourGroups(
    const std::vector<QByteArray>& values, int radius, int block,
    const std::function<bool(qint64 done)>& goOn) {
  const int count = int(values.size());
  const Characters characters(values);
  const std::vector<BlockKey> keys = blockKeys(characters, count, std::size_t(block));
  // Each value's blocks, as ranges of `keys`.
  std::vector<std::vector<std::pair<std::size_t, std::size_t>>> blocksOf(values.size());
  for (std::size_t start = 0; start < keys.size();) {
    std::size_t end = start + 1;
    while (end < keys.size() && keys[end].hash == keys[start].hash) ++end;
    if (end - start > 1) {
      for (std::size_t k = start; k < end; ++k) {
        blocksOf[std::size_t(keys[k].value)].push_back({start, end});
      }
    }
    start = end;
  }
  Groups groups(count);
  Distance distance(radius);
  std::vector<int> lastSeenBy(std::size_t(count), -1);  // each pair is compared once
  for (int i = 0; i < count; ++i) {
    if (goOn && i % 4096 == 0 && !goOn(i)) return std::nullopt;
    for (const auto& [start, end] : blocksOf[std::size_t(i)]) {
      for (std::size_t k = start; k < end; ++k) {
        const int j = keys[k].value;
        if (j <= i || lastSeenBy[std::size_t(j)] == i) continue;
        lastSeenBy[std::size_t(j)] = i;
        if (groups.root(i) == groups.root(j)) continue;
        const bool ascii = characters.ascii[std::size_t(i)] && characters.ascii[std::size_t(j)];
        if (distance.within(characters.of(i), characters.of(j), ascii)) groups.join(i, j);
      }
    }
  }
  if (goOn && !goOn(count)) return std::nullopt;
  return groups.ofTwoOrMore();
}
