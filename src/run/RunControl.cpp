#include "RunControl.h"

#include "Connection.h"

RunControl::~RunControl() {
  settle();
}

void RunControl::requestStop() {
  stopRequested_ = true;
  // One cancel is enough: the loop starts no other write once it sees the request.
  const Connection* connection = connection_;
  if (writing_ && connection && !canceller_.joinable()) {
    canceller_ = std::thread([connection] { connection->Cancel(); });
  }
}

void RunControl::settle() {
  if (canceller_.joinable()) canceller_.join();
}
