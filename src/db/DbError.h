#pragma once

#include <QString>
#include <stdexcept>
#include <string>

struct st_mysql;
struct st_mysql_stmt;

// A failure of the record layer: the server's or the client library's own description,
// with the error number and SQL state where the server gave them.
class DbError : public std::runtime_error {
 public:
  explicit DbError(const QString& message, unsigned errorNumber = 0, std::string sqlState = "HY000")
      : std::runtime_error(message.toStdString()),
        errorNumber_(errorNumber),
        sqlState_(std::move(sqlState)) {}

  // Read from the handle before it is closed.
  static DbError from(st_mysql* mysql);
  static DbError from(st_mysql_stmt* statement);

  unsigned errorNumber() const { return errorNumber_; }
  const std::string& sqlState() const { return sqlState_; }

  // The connection is gone: the server went away, the link broke or the session was killed.
  bool connectionLost() const;
  // The statement was ended on request (a cancel) before it took effect.
  bool interrupted() const;

 private:
  unsigned errorNumber_;
  std::string sqlState_;
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
