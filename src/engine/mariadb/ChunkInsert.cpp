#include "ChunkInsert.h"

#include <QScopeGuard>
#include <cassert>
#include <cstring>

#include "MariaDbError.h"

std::unique_ptr<ChunkInsert> ChunkInsert::Prepare(MYSQL* mysql, const QByteArray& table,
                                                  const QByteArray& columnNames,
                                                  std::vector<Column> columns) {
  // Arrays of rows came with MariaDB 10.2.
  unsigned long extended = 0;
  if (mariadb_get_infov(mysql, MARIADB_CONNECTION_EXTENDED_SERVER_CAPABILITIES, &extended) ||
      !(extended & (MARIADB_CLIENT_STMT_BULK_OPERATIONS >> 32))) {
    return nullptr;
  }
  StatementHandle statement(mysql_stmt_init(mysql));
  if (!statement) return nullptr;
  QByteArray sql = "INSERT INTO " + table + " (" + columnNames + ") VALUES (";
  for (std::size_t i = 0; i < columns.size(); ++i) sql += i ? ",?" : "?";
  sql += ')';
  if (mysql_stmt_prepare(statement.get(), sql.constData(), sql.size())) return nullptr;
  return std::unique_ptr<ChunkInsert>(new ChunkInsert(std::move(statement), std::move(columns)));
}

ChunkInsert::ChunkInsert(StatementHandle statement, std::vector<Column> columns)
    : statement_(std::move(statement)), columns_(std::move(columns)), values_(columns_.size()) {}

ChunkInsert::~ChunkInsert() = default;

ChunkInsert::Values& ChunkInsert::nextValues() {
  Values& values = values_[next_];
  next_ = (next_ + 1) % columns_.size();
  return values;
}

void ChunkInsert::addNumber(unsigned number) {
  assert(columns_[next_] == Column::Number);
  nextValues().numbers.push_back(number);
}

void ChunkInsert::addValue(std::optional<QByteArrayView> value) {
  assert(columns_[next_] == Column::Value || columns_[next_] == Column::Bytes);
  Values& values = nextValues();
  values.data.push_back(value ? value->data() : nullptr);
  values.lengths.push_back(value ? static_cast<unsigned long>(value->size()) : 0);
  values.indicators.push_back(value ? STMT_INDICATOR_NONE : STMT_INDICATOR_NULL);
}

void ChunkInsert::clear() {
  for (Values& values : values_) {
    values.numbers.clear();
    values.data.clear();
    values.lengths.clear();
    values.indicators.clear();
  }
  next_ = 0;
}

void ChunkInsert::execute() {
  assert(next_ == 0);
  std::vector<MYSQL_BIND> binds(columns_.size());
  unsigned rows = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    MYSQL_BIND& bind = binds[i];
    std::memset(&bind, 0, sizeof bind);
    Values& values = values_[i];
    switch (columns_[i]) {
      case Column::Number:
        bind.buffer_type = MYSQL_TYPE_LONG;
        bind.is_unsigned = true;
        bind.buffer = values.numbers.data();
        rows = unsigned(values.numbers.size());
        break;
      case Column::Value:
      case Column::Bytes:
        bind.buffer_type = columns_[i] == Column::Value ? MYSQL_TYPE_STRING : MYSQL_TYPE_BLOB;
        bind.buffer = values.data.data();
        bind.length = values.lengths.data();
        bind.u.indicator = values.indicators.data();
        break;
    }
  }
  const auto started = qScopeGuard([this] { clear(); });
  if (rows == 0) return;
  MYSQL_STMT* statement = statement_.get();
  if (mysql_stmt_attr_set(statement, STMT_ATTR_ARRAY_SIZE, &rows) ||
      mysql_stmt_bind_param(statement, binds.data()) || mysql_stmt_execute(statement)) {
    throw MariaDbError(statement);
  }
}
