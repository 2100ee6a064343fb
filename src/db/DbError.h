#pragma once

#include <QString>
#include <stdexcept>
#include <string>

// A failure of the record layer: the server's or the client library's own description,
// with the error number and SQL state where the server gave them, and what the engine
// that raised it knows the failure to mean.
class DbError : public std::runtime_error {
 public:
  enum class Cause {
    Other,
    ConnectionLost,   // the server went away, the link broke or the session was killed
    Interrupted,      // the statement was ended on request (a cancel) before it took effect
    Deadlock,         // the transaction was rolled back to end a deadlock (or lost certification)
    UnknownDatabase,  // the database named at login does not exist
    // Why a login failed, for its hint:
    AccessDenied,     // a wrong user name or password, or a user who may not log in from here
    Unreachable,      // no server answered at that name and port
    UnknownHost,      // no computer of that name
    EncryptionSetup,  // the encrypted link could not be set up
  };

  explicit DbError(const QString& message, unsigned errorNumber = 0, std::string sqlState = "HY000",
                   Cause cause = Cause::Other)
      : std::runtime_error(message.toStdString()),
        errorNumber_(errorNumber),
        sqlState_(std::move(sqlState)),
        cause_(cause) {}

  unsigned errorNumber() const { return errorNumber_; }
  const std::string& sqlState() const { return sqlState_; }
  Cause cause() const { return cause_; }

  bool connectionLost() const { return cause_ == Cause::ConnectionLost; }
  bool interrupted() const { return cause_ == Cause::Interrupted; }
  bool deadlock() const { return cause_ == Cause::Deadlock; }

 private:
  unsigned errorNumber_;
  std::string sqlState_;
  Cause cause_;
};

// The layer's own failures, in the wording that callers show.
namespace DbMessages {
inline const QString ObjectClosed =
    QStringLiteral("Operation is not allowed when the object is closed.");
inline const QString ObjectOpen =
    QStringLiteral("Operation is not allowed when the object is open.");
inline const QString NoCurrentRecord = QStringLiteral(
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.");
inline const QString RowNotLocated = QStringLiteral(
    "Row cannot be located for updating. Some values may have been changed since it was last "
    "read.");
inline const QString NoDriver =
    QStringLiteral("Data source name not found and no default driver specified");
inline const QString NotUpdatable = QStringLiteral(
    "Current Recordset does not support updating. This may be a limitation of "
    "the provider, or of the selected locktype.");
inline const QString NoBaseTable =
    QStringLiteral("Insufficient base table information for updating or refreshing.");
inline const QString FieldNotFound = QStringLiteral(
    "Item cannot be found in the collection corresponding to the requested name "
    "or ordinal.");
}  // namespace DbMessages
