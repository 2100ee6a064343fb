#include "Engine.h"

#include "MariaDbEngine.h"
#include "MariaDbSession.h"

// MariaDB and MySQL are the only servers a connection opens so far.

std::shared_ptr<Session> OpenSession(const ConnectionAttributes& attributes,
                                     const SessionOptions& options) {
  return MariaDbSession::open(attributes, options);
}

const Engine& EngineOf(const Connection&) {
  static const MariaDbEngine mariaDb;
  return mariaDb;
}
