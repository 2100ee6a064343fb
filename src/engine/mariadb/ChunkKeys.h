#pragma once

#include <QByteArrayView>
#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

// The keys of the rows of a chunk, as views of bytes that outlive them: a set with no
// allocation per key, since a chunk of several fields asks it of every row it queues.
class ChunkKeys {
 public:
  bool contains(QByteArrayView key) const { return !slots_.empty() && slots_[find(key)].data(); }
  void insert(QByteArrayView key) {
    if (2 * (count_ + 1) > slots_.size()) grow();
    QByteArrayView& slot = slots_[find(key)];
    if (slot.data()) return;
    slot = key;
    ++count_;
  }
  void clear() {
    if (count_ == 0) return;
    std::fill(slots_.begin(), slots_.end(), QByteArrayView());
    count_ = 0;
  }

 private:
  // The slot of `key`, or the free slot where it would go. Keys are never empty.
  std::size_t find(QByteArrayView key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = std::hash<std::string_view>()(std::string_view(key.data(), key.size())) & mask;
    while (slots_[at].data() && slots_[at] != key) at = (at + 1) & mask;
    return at;
  }
  void grow() {
    std::vector<QByteArrayView> kept;
    kept.swap(slots_);
    slots_.assign(kept.empty() ? 1024 : 2 * kept.size(), QByteArrayView());
    for (QByteArrayView key : kept) {
      if (key.data()) slots_[find(key)] = key;
    }
  }

  std::vector<QByteArrayView> slots_;  // a power of two of them; a free slot views nothing
  std::size_t count_ = 0;
};
