#pragma once

#include <memory>

#include "ClientHandles.h"
#include "ConnectionString.h"

// A result whose rows are still arriving over the connection.
class StreamingResult {
 public:
  virtual ~StreamingResult() = default;
  // Reads the rows still on the wire into memory, so the connection can carry
  // another statement while they stay readable.
  virtual void bufferRest() = 0;
  // Lets go of the rows still on the wire, unread, when the connection goes away.
  virtual void dropRest() = 0;
};

struct SessionOptions {
  unsigned connectTimeoutSeconds = 15;
  unsigned commandTimeoutSeconds = 30;  // 0: no limit
  unsigned lockWaitSeconds = 0;         // how long a write waits for a locked row; 0: the server's
};

// One open connection to the server, shared by a Connection and the record sets opened
// on it. The client library carries one result at a time over a connection: before
// anything else is sent, a result still streaming is read into memory (when its record
// set is open) or skipped (when it was closed); when the connection itself goes away,
// unread rows are not downloaded at all.
class Session {
 public:
  static std::shared_ptr<Session> open(const ConnectionAttributes& attributes,
                                       const SessionOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool isOpen() const { return mysql_ != nullptr; }
  // The handle when it is open and reads no rows, so that a statement can go at once;
  // else nothing.
  MYSQL* idleNow() const { return isOpen() && !streaming_ && !abandoned_ ? mysql_.get() : nullptr; }
  // The handle, idle and ready for a statement. Throws when the session was closed.
  MYSQL* idle();
  // The handle as it is, for reading the result that streams over it.
  MYSQL* handle() const { return mysql_.get(); }
  void close();
  // "encrypted, TLSv1.3, certificate not checked" or "not encrypted".
  QString linkDescription() const;
  // Ends the statement that another thread runs on this session now: the server is asked
  // over a connection of its own made with `attributes`; when it cannot be asked, this
  // session's link is cut. Either way the statement fails in the thread that runs it.
  void cancelStatement(const ConnectionAttributes& attributes) const;

  // The record set whose rows arrive now; it must call finished() once they are all in.
  void streaming(StreamingResult* result) { streaming_ = result; }
  void finished(StreamingResult* result);
  // Takes the unread rest of a closed record set, skipped only if the connection is used again.
  void abandon(ResultHandle unreadRest);

 private:
  Session(MysqlHandle mysql, Encryption encryption)
      : mysql_(std::move(mysql)), encryption_(encryption) {}
  void cancelUnreadRows();

  MysqlHandle mysql_;
  Encryption encryption_;
  StreamingResult* streaming_ = nullptr;
  ResultHandle abandoned_;
};
