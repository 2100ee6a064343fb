#include "ChunkSettler.h"

#include <QScopeGuard>
#include <algorithm>
#include <chrono>
#include <numeric>
#include <thread>

#include "RowUpdater.h"

namespace {

// How often a chunk lost to a deadlock is tried in all.
constexpr int ChunkAttempts = 4;
// A refused chunk is split in halves down to this size; then its rows go on their own.
constexpr std::size_t SmallestSplit = 8;

}  // namespace

ChunkAttempt ChunkAttemptAfter(const DbError& failure) {
  if (failure.connectionLost() || failure.interrupted()) throw failure;
  // A locked row holds up only the rows around it, a refused value only its row.
  return failure.deadlock() ? ChunkAttempt::Retry : ChunkAttempt::Split;
}

// What a flush carries from row to row.
struct ChunkSettler::Flush {
  WriteObserver* observer;
  const Report& report;
  std::atomic<bool>* rowOnItsOwn;
  bool inOrder;
  bool goOn = true;
  std::optional<DbError> ended;
};

void ChunkSettler::flush(std::vector<QueuedRow>&& queued, QByteArray&& listed,
                         WriteObserver* observer, const Report& report,
                         std::atomic<bool>* rowOnItsOwn, bool inOrder, Flushing flushing) {
  Flush flush{observer, report, rowOnItsOwn, inOrder, true, std::nullopt};
  if (inFlight_.aside()) finishUnderWay(flush);
  if (flushing == Flushing::UnderWayOnly) {
    if (flush.ended) throw *flush.ended;
    return;
  }
  inFlight_.take(std::move(queued), std::move(listed));
  if (flushing == Flushing::MayLeaveUnderWay && flush.goOn &&
      attempter_.mayGoUnderWay(inFlight_.rows())) {
    inFlight_.attemptAside(
        [this, observer, inOrder] { return attemptChunk(allWriting(), observer, inOrder); });
    return;
  }
  std::vector<std::size_t> chunk;
  for (std::size_t i = 0; i < inFlight_.rows().size(); ++i) {
    if (writing(i).inChunk) {
      chunk.push_back(i);
      continue;
    }
    writeInOrder(chunk, flush);
    chunk.clear();
    writeAlone(i, flush);
  }
  writeInOrder(chunk, flush);
  inFlight_.letGo();
  if (flush.ended) throw *flush.ended;
}

std::vector<std::size_t> ChunkSettler::allWriting() const {
  std::vector<std::size_t> all(inFlight_.rows().size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  return all;
}

// Waits for the chunk under way and tells its rows, writing those that it left on their
// own, as a chunk written at once would have.
void ChunkSettler::finishUnderWay(Flush& flush) {
  ChunkAttempted tried;
  try {
    tried = inFlight_.finish();
  } catch (const DbError& failure) {
    flush.ended = failure;
    flush.goOn = false;
  }
  settle(allWriting(), tried, flush);
  inFlight_.letGo();
}

// Writes the chunk rows of `part` and tells each one's result in order: grouped where
// they stand as read, and else split around the rows at fault, which go on their own, so
// that no row after one told is written before the caller could stop.
void ChunkSettler::writeInOrder(const std::vector<std::size_t>& part, Flush& flush) {
  if (part.empty()) return;
  // Another writer changed most rows of the last chunk since they were read: this one goes
  // field by field at once rather than be tried whole first.
  if (byFieldFirst_ && !flush.inOrder && part.size() > 1 && writeFieldByField(part, flush)) {
    std::size_t notStanding = 0;
    for (std::size_t i : part) {
      const std::vector<Result>& fields = writing(i).fieldResults;
      notStanding += std::any_of(fields.begin(), fields.end(), [](Result result) {
        return result != Result::Written && result != Result::NotWritten;
      });
    }
    byFieldFirst_ = 2 * notStanding > part.size();
    tellWritten(part, flush);
    return;
  }
  ChunkAttempted tried;
  if (flush.goOn) {
    try {
      tried = attemptChunk(part, flush.observer, flush.inOrder);
    } catch (const DbError& failure) {
      flush.ended = failure;
      flush.goOn = false;
    }
  }
  settle(part, tried, flush);
}

ChunkAttempted ChunkSettler::attemptChunk(const std::vector<std::size_t>& part,
                                          WriteObserver* observer, bool inOrder) {
  ChunkAttempted tried;
  for (int attempt = 1;; ++attempt) {
    tried.atFault.clear();
    try {
      tried.attempt = attempter_.attemptChunk(inFlight_.rows(), inFlight_.listed(), part, observer,
                                              tried.atFault, inOrder);
    } catch (const DbError& failure) {
      // A cluster aborts a transaction that lost to another node's between its statements
      // too: the next one, whichever it is, says deadlock, and the chunk goes again.
      if (!failure.deadlock()) throw;
      tried.attempt = ChunkAttempt::Retry;
    }
    if (tried.attempt != ChunkAttempt::Retry || attempt == ChunkAttempts) return tried;
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt));
  }
}

// Tells the rows of `part` after the attempt at their chunk, and writes those it left.
void ChunkSettler::settle(const std::vector<std::size_t>& part, const ChunkAttempted& tried,
                          Flush& flush) {
  if (!flush.goOn) {
    for (std::size_t i : part) tell(i, writing(i).result.value_or(Result::NotWritten), flush);
    return;
  }
  if (tried.attempt == ChunkAttempt::Written) {
    std::vector<std::size_t> left;  // no longer as read
    for (std::size_t i : part) {
      if (!writing(i).result) left.push_back(i);
    }
    // Where no caller waits to stop after each, their fields that still stand are written
    // together, and the rest told why not, instead of a few round trips for each row; a single
    // row costs fewer on its own.
    if (!flush.inOrder) {
      byFieldFirst_ = 2 * left.size() > part.size();
      if (left.size() > 1) writeFieldByField(left, flush);
    }
    tellWritten(part, flush);
    return;
  }
  if (tried.attempt == ChunkAttempt::Mismatch) {
    std::vector<std::size_t> standing;
    for (std::size_t i : part) {
      if (!std::binary_search(tried.atFault.begin(), tried.atFault.end(), i)) {
        standing.push_back(i);
        continue;
      }
      writeInOrder(standing, flush);
      standing.clear();
      writeAlone(i, flush);
    }
    writeInOrder(standing, flush);
    return;
  }
  if (part.size() <= SmallestSplit || tried.attempt == ChunkAttempt::Retry) {
    for (std::size_t i : part) writeAlone(i, flush);
    return;
  }
  const auto middle = part.begin() + std::ptrdiff_t(part.size() / 2);
  writeInOrder({part.begin(), middle}, flush);
  writeInOrder({middle, part.end()}, flush);
}

// Writes each field of `rows` that stands as read, in one attempt; false when it did not.
bool ChunkSettler::writeFieldByField(const std::vector<std::size_t>& rows, Flush& flush) {
  if (!flush.goOn) return false;
  try {
    return attempter_.attemptFieldByField(inFlight_.rows(), rows, flush.observer) ==
           ChunkAttempt::Written;
  } catch (const DbError& failure) {
    flush.ended = failure;
    flush.goOn = false;
    return false;
  }
}

// Tells the rows of `part` after an attempt that wrote them: each as its chunk did, or field
// by field; the rows that neither did are written on their own.
void ChunkSettler::tellWritten(const std::vector<std::size_t>& part, Flush& flush) {
  for (std::size_t i : part) {
    if (writing(i).result) {
      tell(i, *writing(i).result, flush);
    } else if (!writing(i).fieldResults.empty()) {
      for (int slot = 0; slot < int(written_.size()); ++slot) {
        if (writing(i).writes(slot)) {
          tellSlot(i, slot, writing(i).fieldResults[std::size_t(slot)], nullptr, flush);
        }
      }
    } else {
      writeAlone(i, flush);
    }
  }
}

// Each field of the row on its own, so that each is told on its own.
void ChunkSettler::writeAlone(std::size_t i, Flush& flush) {
  for (int slot = 0; slot < int(written_.size()); ++slot) {
    if (!writing(i).writes(slot)) continue;
    Result result = Result::NotWritten;
    std::optional<DbError> why;
    if (flush.goOn) {
      try {
        result = writeOne(writing(i), slot, flush.observer, why, flush.rowOnItsOwn);
      } catch (const DbError& failure) {
        if (failure.connectionLost()) result = Result::InDoubt;
        flush.ended = failure;
        flush.goOn = false;
      }
    }
    tellSlot(i, slot, result, why ? &*why : nullptr, flush);
  }
}

// The result of a row's chunk, told for each of its fields.
void ChunkSettler::tell(std::size_t i, Result result, Flush& flush) {
  for (int slot = 0; slot < int(written_.size()); ++slot) {
    if (writing(i).writes(slot)) tellSlot(i, slot, result, nullptr, flush);
  }
}

void ChunkSettler::tellSlot(std::size_t i, int slot, Result result, const DbError* why,
                            Flush& flush) {
  flush.goOn = flush.report(writing(i).tag, slot, result, why, writing(i).packed) && flush.goOn;
}

ChunkSettler::Result ChunkSettler::writeOne(const QueuedRow& queued, int slot,
                                            WriteObserver* observer, std::optional<DbError>& why,
                                            std::atomic<bool>* underway) {
  // The row's key values, then each field's old and new value.
  const RowValues row = UnpackedValues(queued.packed);
  const std::size_t at = updater_.identityFields().size() + 2 * std::size_t(slot);
  const int field = written_[std::size_t(slot)];
  if (underway) *underway = true;
  const auto done = qScopeGuard([underway] {
    if (underway) *underway = false;
  });
  try {
    const bool written =
        updater_.tryWrite(updater_.rowOf(row, field, row[at]), {{field, row[at + 1]}}, observer);
    return written ? Result::Written : Result::NotFound;
  } catch (const DbError& failure) {
    if (failure.connectionLost() || failure.interrupted()) throw;
    why = failure;
    return Result::Refused;
  }
}
