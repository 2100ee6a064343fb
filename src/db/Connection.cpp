#include "Connection.h"

#include "RecordSet.h"
#include "Session.h"

Connection::~Connection() = default;

void Connection::Open(const QString& connectionString) {
  if (isOpen()) throw DbError(DbMessages::ObjectOpen, 3705);
  const auto nonNegative = [](int seconds) { return unsigned(std::max(seconds, 0)); };
  attributes_ = ParseConnectionString(connectionString);
  session_ = Session::open(attributes_, {nonNegative(ConnectionTimeout),
                                         nonNegative(CommandTimeout), nonNegative(LockTimeout)});
}

std::unique_ptr<RecordSet> Connection::Execute(const QString& statement) {
  auto records = std::make_unique<RecordSet>();
  records->Open(statement, *this);
  return records;
}

void Connection::Close() {
  if (session_) session_->close();
  session_.reset();
}

void Connection::Cancel() const {
  if (session_) session_->cancelStatement(attributes_);
}

bool Connection::isOpen() const {
  return session_ && session_->isOpen();
}

QString Connection::linkDescription() const {
  return session()->linkDescription();
}

std::shared_ptr<Session> Connection::session() const {
  if (!isOpen()) throw DbError(DbMessages::ObjectClosed, 3704);
  return session_;
}
