#pragma once

#include <atomic>
#include <thread>

class Connection;

// How a run, an undo or an applied preview is stopped: a request that its record loop
// reads after each record, and a cancel, on the server, of the write that waits there
// (for a row that another session holds) when the request comes.
class RunControl {
 public:
  // How long a write waits for a row that another session holds, before it is reported.
  static constexpr int LockWaitSeconds = 5;

  RunControl() = default;
  ~RunControl();
  RunControl(const RunControl&) = delete;
  RunControl& operator=(const RunControl&) = delete;

  // The connection whose writes a stop cancels; set before the record loop starts.
  void watch(const Connection* connection) { connection_ = connection; }
  // From any thread, at any time.
  void requestStop();
  bool stopRequested() const { return stopRequested_; }
  // Set by the record loop while a write that a stop may cancel is on its way.
  std::atomic<bool>& writing() { return writing_; }
  // Waits for a cancel on its way: the connection may go once this returns.
  void settle();

 private:
  std::atomic<bool> stopRequested_ = false;
  std::atomic<bool> writing_ = false;
  std::atomic<const Connection*> connection_ = nullptr;
  std::thread canceller_;
};
