#include "FloorLoop.h"

#include <mysql.h>

#include <stdexcept>

#include "ClientHandles.h"
#include "ConnectionString.h"

namespace {

MysqlHandle connect(const QString& connectionString) {
  const ConnectionAttributes attributes = ParseConnectionString(connectionString);
  MysqlHandle mysql(mysql_init(nullptr));
  mysql_options(mysql.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
  if (!mysql_real_connect(mysql.get(), attributes.server.toUtf8(), attributes.user.toUtf8(),
                          attributes.password.toUtf8(), attributes.database.toUtf8(),
                          attributes.port.toUInt(), nullptr, 0)) {
    throw std::runtime_error(mysql_error(mysql.get()));
  }
  return mysql;
}

ResultHandle storeAll(MYSQL* mysql, const QString& table) {
  const QByteArray sql = "SELECT id, v FROM " + table.toUtf8();
  if (mysql_real_query(mysql, sql.constData(), sql.size()))
    throw std::runtime_error(mysql_error(mysql));
  ResultHandle result(mysql_store_result(mysql));
  if (!result) throw std::runtime_error(mysql_error(mysql));
  return result;
}

}  // namespace

FloorResult RunFloorLoop(const QString& connectionString, const QString& table,
                         const std::function<QString(const QString&)>& transform) {
  MysqlHandle mysql = connect(connectionString);
  ResultHandle rows = storeAll(mysql.get(), table);
  StatementHandle update(mysql_stmt_init(mysql.get()));
  const QByteArray sql = "UPDATE " + table.toUtf8() + " SET v = ? WHERE id = ?";
  if (mysql_stmt_prepare(update.get(), sql.constData(), sql.size())) {
    throw std::runtime_error(mysql_stmt_error(update.get()));
  }
  FloorResult result;
  while (MYSQL_ROW row = mysql_fetch_row(rows.get())) {
    ++result.rows;
    const unsigned long* lengths = mysql_fetch_lengths(rows.get());
    if (!row[1]) continue;
    const QString value = QString::fromUtf8(row[1], qsizetype(lengths[1]));
    const QString changed = transform(value);
    if (changed == value) continue;
    QByteArray newValue = changed.toUtf8();
    unsigned long lengthsOut[2] = {static_cast<unsigned long>(newValue.size()), lengths[0]};
    MYSQL_BIND binds[2] = {};
    binds[0].buffer_type = MYSQL_TYPE_STRING;
    binds[0].buffer = newValue.data();
    binds[0].length = &lengthsOut[0];
    binds[1].buffer_type = MYSQL_TYPE_STRING;
    binds[1].buffer = row[0];
    binds[1].length = &lengthsOut[1];
    if (mysql_stmt_bind_param(update.get(), binds) || mysql_stmt_execute(update.get())) {
      throw std::runtime_error(mysql_stmt_error(update.get()));
    }
    ++result.written;
  }
  return result;
}

qint64 ReadAndTransform(const QString& connectionString, const QString& table,
                        const std::function<QString(const QString&)>& transform) {
  MysqlHandle mysql = connect(connectionString);
  ResultHandle rows = storeAll(mysql.get(), table);
  qint64 changing = 0;
  while (MYSQL_ROW row = mysql_fetch_row(rows.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(rows.get());
    if (!row[1]) continue;
    const QString value = QString::fromUtf8(row[1], qsizetype(lengths[1]));
    if (transform(value) != value) ++changing;
  }
  return changing;
}

qint64 ReadAllWithStoreResult(const QString& connectionString, const QString& table) {
  MysqlHandle mysql = connect(connectionString);
  ResultHandle rows = storeAll(mysql.get(), table);
  qint64 characters = 0;
  while (MYSQL_ROW row = mysql_fetch_row(rows.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(rows.get());
    for (int i = 0; i < 2; ++i) {
      if (row[i]) characters += QString::fromUtf8(row[i], qsizetype(lengths[i])).size();
    }
  }
  return characters;
}

void RunServerStatement(const QString& connectionString, const QString& sql) {
  MysqlHandle mysql = connect(connectionString);
  const QByteArray statement = sql.toUtf8();
  if (mysql_real_query(mysql.get(), statement.constData(), statement.size())) {
    throw std::runtime_error(mysql_error(mysql.get()));
  }
}
