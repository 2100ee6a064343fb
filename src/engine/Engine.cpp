#include "Engine.h"

#include "MariaDbEngine.h"

const Engine& EngineOf(const Connection&) {
  // MariaDB and MySQL are the only servers a connection opens so far.
  static const MariaDbEngine mariaDb;
  return mariaDb;
}
