#include "Journal.h"

void JournalRecorder::aboutToWrite(const RowChange& change) {
  keepingFailure([&] { journal_.record(run_, change); });
}

void JournalRecorder::aboutToWriteAll(std::span<const RowChange> changes) {
  keepingFailure([&] { journal_.recordAll(run_, changes); });
}

// Once the journal failed, nothing more is recorded: every later write is refused too.
void JournalRecorder::keepingFailure(const std::function<void()>& record) {
  if (failed()) throw JournalError(failure().toStdString());
  try {
    record();
  } catch (const JournalError& failure) {
    keep(failure);
    throw;
  }
}

void JournalRecorder::keep(const JournalError& failure) {
  const std::lock_guard lock(mutex_);
  if (failure_.isEmpty()) failure_ = QString::fromUtf8(failure.what());
  failed_.store(true, std::memory_order_release);
}

QString JournalRecorder::failure() const {
  const std::lock_guard lock(mutex_);
  return failure_;
}

void JournalRecorder::settled(WriteSettled how, const std::optional<QByteArray>* holds) {
  try {
    journal_.settle(run_, how, holds);
  } catch (const JournalError& failure) {
    keep(failure);
  }
}
