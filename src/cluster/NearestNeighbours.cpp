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

// Which values share a block: every run of `block` characters of each value, by its hash.
class BlockIndex {
 public:
  BlockIndex(const Characters& characters, int count, std::size_t block)
      : keys_(keysOf(characters, count, block)), valueBlocks_(std::size_t(count) + 1, 0) {
    for (std::size_t start = 0; start < keys_.size();) {
      std::size_t end = start + 1;
      while (end < keys_.size() && keys_[end].hash == keys_[start].hash) ++end;
      if (end - start > 1) {  // a block of one value joins nothing
        ranges_.push_back({std::uint32_t(start), std::uint32_t(end)});
        for (std::size_t k = start; k < end; ++k) ++valueBlocks_[std::size_t(keys_[k].value) + 1];
      }
      start = end;
    }
    std::partial_sum(valueBlocks_.begin(), valueBlocks_.end(), valueBlocks_.begin());
    blocks_.resize(valueBlocks_.back());
    std::vector<std::uint32_t> filled(valueBlocks_.begin(), valueBlocks_.end() - 1);
    for (std::uint32_t b = 0; b < ranges_.size(); ++b) {
      for (std::uint32_t k = ranges_[b].start; k < ranges_[b].end; ++k) {
        blocks_[filled[std::size_t(keys_[k].value)]++] = b;
      }
    }
  }

  // Calls `visit` with each value that shares a block with value `i` and whose length is
  // within `radius` of its `length` (some more than once): a block's values are in order of
  // their lengths, so only those near are read.
  template <typename Visit>
  void forEachSharing(int i, std::size_t length, int radius, Visit visit) const {
    const auto shortest =
        std::uint32_t(std::max<std::ptrdiff_t>(0, std::ptrdiff_t(length) - radius));
    const auto longest = std::uint32_t(length) + std::uint32_t(radius);
    for (std::uint32_t b = valueBlocks_[std::size_t(i)]; b < valueBlocks_[std::size_t(i) + 1];
         ++b) {
      const Range range = ranges_[blocks_[b]];
      auto key = std::partition_point(keys_.begin() + range.start, keys_.begin() + range.end,
                                      [&](const Key& k) { return k.length < shortest; });
      for (; key != keys_.begin() + range.end && key->length <= longest; ++key) visit(key->value);
    }
  }

 private:
  struct Key {
    std::uint64_t hash;
    std::uint32_t length;  // of the value, in characters
    int value;
    auto operator<=>(const Key&) const = default;
  };
  struct Range {
    std::uint32_t start, end;
  };
  static std::uint64_t hashOf(std::u32string_view run) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char32_t c : run) hash = (hash ^ c) * 1099511628211ull;
    return hash;
  }
  static std::vector<Key> keysOf(const Characters& characters, int count, std::size_t block) {
    std::vector<Key> keys;
    for (int i = 0; i < count; ++i) {
      const std::u32string_view text = characters.of(i);
      if (text.size() <= block) {
        keys.push_back({hashOf(text), std::uint32_t(text.size()), i});
        continue;
      }
      for (std::size_t at = 0; at + block <= text.size(); ++at) {
        keys.push_back({hashOf(text.substr(at, block)), std::uint32_t(text.size()), i});
      }
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
  }

  std::vector<Key> keys_;                   // by hash
  std::vector<Range> ranges_;               // the blocks of two values or more
  std::vector<std::uint32_t> valueBlocks_;  // where each value's blocks begin in blocks_
  std::vector<std::uint32_t> blocks_;
};

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
    if (bagDistance(a, b) > radius_) return false;
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
  // How many characters of one value the other lacks, the larger of the two ways: never
  // more than the edit distance, and much cheaper, so most pairs end here.
  int bagDistance(std::u32string_view a, std::u32string_view b) {
    // Characters counted by their low byte: two that share it may cancel out, which only
    // makes the bound lower. Only the counts touched are read and cleared again.
    for (char32_t c : a) ++counts_[c & 0xFF];
    for (char32_t c : b) --counts_[c & 0xFF];
    int surplus = 0, lack = 0;
    for (std::u32string_view text : {a, b}) {
      for (char32_t c : text) {
        int& count = counts_[c & 0xFF];
        (count > 0 ? surplus : lack) += std::abs(count);
        count = 0;
      }
    }
    return std::max(surplus, lack);
  }
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
  int counts_[256] = {};
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
  const BlockIndex index(characters, count, std::size_t(block));
  Groups groups(count);
  Distance distance(radius);
  std::vector<int> lastSeenBy(std::size_t(count), -1);  // each pair is compared once
  // Asked every so many values and every so many values compared: in a block that most
  // values share, one value alone may meet hundreds of thousands.
  std::uint64_t met = 0;
  bool stopped = false;
  const auto goesOn = [&](int done) { return !goOn || goOn(done); };
  for (int i = 0; i < count && !stopped; ++i) {
    if (i % 4096 == 0 && !goesOn(i)) return std::nullopt;
    index.forEachSharing(i, characters.of(i).size(), radius, [&](int j) {
      if (stopped || ((++met & 0xFFFF) == 0 && !goesOn(i))) {
        stopped = true;
        return;
      }
      if (j <= i || lastSeenBy[std::size_t(j)] == i) return;
      lastSeenBy[std::size_t(j)] = i;
      if (groups.root(i) == groups.root(j)) return;
      const bool ascii = characters.ascii[std::size_t(i)] && characters.ascii[std::size_t(j)];
      if (distance.within(characters.of(i), characters.of(j), ascii)) groups.join(i, j);
    });
  }
  if (stopped || !goesOn(count)) return std::nullopt;
  return groups.ofTwoOrMore();
}
