#pragma once

#include <cstddef>
#include <memory>
#include <vector>

// Room for many small byte strings that live as long as the arena: handed out from
// blocks of a mebibyte, never moved, freed all at once.
class ByteArena {
 public:
  char* reserve(std::size_t bytes) {
    if (bytes > blockFree_) {
      const std::size_t size = bytes > BlockSize ? bytes : BlockSize;
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
      blockEnd_ = blocks_.back().get();
      blockFree_ = size;
    }
    char* at = blockEnd_;
    blockEnd_ += bytes;
    blockFree_ -= bytes;
    return at;
  }
  // Frees every string handed out.
  void clear() {
    blocks_.clear();
    blockFree_ = 0;
    blockEnd_ = nullptr;
  }

 private:
  static constexpr std::size_t BlockSize = std::size_t{1} << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t blockFree_ = 0;
  char* blockEnd_ = nullptr;
};
