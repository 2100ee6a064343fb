#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "Connection.h"
#include "DbError.h"

class QWidget;

// A connection tried on a thread of its own, so that the windows keep painting: after a
// moment "Connecting to db1…" shows over `window` with Cancel. A server that takes the
// connection but never answers is given up after ten seconds.
struct ConnectAttempt {
  enum class Result { Connected, Failed, Cancelled };

  Result result = Result::Failed;
  std::unique_ptr<Connection> connection;  // when connected
  std::optional<DbError> failure;          // when failed
  // When failed: the link's protection refused, and its text already says what to do.
  bool refusedForSafety = false;

  static ConnectAttempt run(QWidget* window, const QString& connectionString);
};
