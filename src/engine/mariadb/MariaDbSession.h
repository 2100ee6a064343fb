#pragma once

#include <memory>

#include "ClientHandles.h"
#include "Session.h"

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

// A session with MariaDB or MySQL through Connector/C. The client library carries one
// result at a time over a connection: before anything else is sent, a result still
// streaming is read into memory (when its reader is open) or skipped (when it was let go).
class MariaDbSession final : public Session, public std::enable_shared_from_this<MariaDbSession> {
 public:
  static std::shared_ptr<MariaDbSession> open(const ConnectionAttributes& attributes,
                                              const SessionOptions& options);
  ~MariaDbSession() override;
  MariaDbSession(const MariaDbSession&) = delete;
  MariaDbSession& operator=(const MariaDbSession&) = delete;

  // The MariaDB session that `session` is: the engine's own code reaches its handle so.
  static MariaDbSession& of(Session& session);

  bool isOpen() const override { return mysql_ != nullptr; }
  void close() override;
  QString linkDescription() const override;
  void cancelStatement(const ConnectionAttributes& attributes) const override;
  QString clusterId() override;
  std::unique_ptr<RowSource> execute(QByteArrayView statement) override;
  void makeIdle() override { idle(); }
  FieldCollection tableFields(const QString& database, const QString& table) override;
  std::unique_ptr<RowUpdater> rowUpdater(const FieldCollection& fields,
                                         const QByteArrayList* knownKey) override;
  std::unique_ptr<GroupedWriter> groupedWriter(const FieldCollection& fields, RowUpdater& updater,
                                               std::vector<int> written, QString* whyNot) override;

  // The handle when it is open and reads no rows, so that a statement can go at once;
  // else nothing.
  MYSQL* idleNow() const { return isOpen() && !streaming_ && !abandoned_ ? mysql_.get() : nullptr; }
  // The handle, idle and ready for a statement. Throws when the session was closed.
  MYSQL* idle();
  // The handle as it is, for reading the result that streams over it.
  MYSQL* handle() const { return mysql_.get(); }

  // The reader whose rows arrive now; it must call finished() once they are all in.
  void streaming(StreamingResult* result) { streaming_ = result; }
  void finished(StreamingResult* result);
  // Takes the unread rest of a reader let go, skipped only if the connection is used again.
  void abandon(ResultHandle unreadRest);

 private:
  MariaDbSession(MysqlHandle mysql, Encryption encryption)
      : mysql_(std::move(mysql)), encryption_(encryption) {}
  void cancelUnreadRows();

  MysqlHandle mysql_;
  Encryption encryption_;
  StreamingResult* streaming_ = nullptr;
  ResultHandle abandoned_;
};
