#include "Connection.h"

#include "RecordSet.h"
#include "Session.h"

Connection::~Connection() = default;

void Connection::Open(const QString& connectionString) {
  if (isOpen()) throw DbError(DbMessages::ObjectOpen, 3705);
  open(ParseConnectionString(connectionString));
}

void Connection::Open(const ConnectionAttributes& attributes) {
  if (isOpen()) throw DbError(DbMessages::ObjectOpen, 3705);
  open(attributes);
}

void Connection::open(const ConnectionAttributes& attributes) {
  const auto nonNegative = [](int seconds) { return unsigned(std::max(seconds, 0)); };
  attributes_ = attributes;
  session_ = OpenSession(attributes_, {nonNegative(ConnectionTimeout), nonNegative(CommandTimeout),
                                       nonNegative(LockTimeout)});
}

std::unique_ptr<Connection> Connection::OpenCompanion() const {
  if (!isOpen()) throw DbError(DbMessages::ObjectClosed, 3704);
  auto companion = std::make_unique<Connection>();
  companion->CursorLocation = CursorLocation;
  companion->CommandTimeout = CommandTimeout;
  companion->ConnectionTimeout = ConnectionTimeout;
  companion->LockTimeout = LockTimeout;
  companion->Mode = Mode;
  companion->open(attributes_);
  const std::lock_guard lock(companionsMutex_);
  std::erase_if(companions_,
                [](const std::weak_ptr<Session>& session) { return session.expired(); });
  companions_.push_back(companion->session_);
  return companion;
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
  std::vector<std::shared_ptr<Session>> companions;
  {
    const std::lock_guard lock(companionsMutex_);
    for (const std::weak_ptr<Session>& companion : companions_) {
      if (auto session = companion.lock()) companions.push_back(std::move(session));
    }
  }
  for (const auto& companion : companions) companion->cancelStatement(attributes_);
}

bool Connection::isOpen() const {
  return session_ && session_->isOpen();
}

QString Connection::clusterId() const {
  return session()->clusterId();
}

QString Connection::linkDescription() const {
  return session()->linkDescription();
}

std::shared_ptr<Session> Connection::session() const {
  if (!isOpen()) throw DbError(DbMessages::ObjectClosed, 3704);
  return session_;
}
