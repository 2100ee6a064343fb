#include "Connection.h"

#include "ClientHandles.h"
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

QString Connection::clusterId() const {
  MYSQL* mysql = session()->idle();
  const char* sql =
      "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS "
      "WHERE VARIABLE_NAME = 'WSREP_CLUSTER_STATE_UUID'";
  if (mysql_query(mysql, sql)) throw DbError::from(mysql);
  const ResultHandle result(mysql_store_result(mysql));
  if (!result) throw DbError::from(mysql);
  const MYSQL_ROW row = mysql_fetch_row(result.get());
  return row && row[0] ? QString::fromUtf8(row[0]) : QString();
}

QString Connection::linkDescription() const {
  return session()->linkDescription();
}

std::shared_ptr<Session> Connection::session() const {
  if (!isOpen()) throw DbError(DbMessages::ObjectClosed, 3704);
  return session_;
}
