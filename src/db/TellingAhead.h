#pragma once

#include <algorithm>
#include <functional>
#include <future>
#include <vector>

#include "RowChange.h"

// A chunk's entries, told to the observer on a thread of their own while its rows travel
// to the server. Told entries that no one settles settle as not written.
class TellingAhead {
 public:
  TellingAhead(WriteObserver* observer, std::function<std::vector<RowChange>()> changes)
      : TellingAhead(observer, 1, [changes = std::move(changes)](std::size_t, std::size_t) {
          return changes();
        }) {}
  // The entries of `count` rows, told a slice of rows at a time (those from `from` up to
  // `to`), so that few are held at once.
  using Slice = std::function<std::vector<RowChange>(std::size_t from, std::size_t to)>;
  TellingAhead(WriteObserver* observer, std::size_t count, Slice slice) : observer_(observer) {
    if (!observer_) return;
    telling_ = std::async(std::launch::async, [observer, count, slice = std::move(slice)] {
      constexpr std::size_t SliceRows = 20000;
      for (std::size_t from = 0; from < count; from += SliceRows) {
        observer->aboutToWriteAll(slice(from, std::min(count, from + SliceRows)));
      }
    });
  }
  ~TellingAhead() {
    if (!observer_ || settled_) return;
    if (telling_.valid()) {
      try {
        telling_.get();
      } catch (...) {
        // The observer keeps its failure, and refuses what comes next.
      }
    }
    observer_->settled(WriteSettled::NotWritten);
  }
  TellingAhead(const TellingAhead&) = delete;
  TellingAhead& operator=(const TellingAhead&) = delete;
  // Waits until the entries are kept; throws what the observer threw.
  void take() {
    if (telling_.valid()) std::future<void>(std::move(telling_)).get();
  }
  void settle(WriteSettled how) {
    if (observer_) observer_->settled(how);
    settled_ = true;
  }

 private:
  WriteObserver* observer_;
  std::future<void> telling_;
  bool settled_ = false;
};
