#include "MariaDbRowUpdater.h"

#include <mysqld_error.h>

#include <QByteArrayList>
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "MariaDbError.h"
#include "MariaDbSession.h"
#include "RowCheck.h"
#include "SqlText.h"
#include "TableKeys.h"
#include "Transaction.h"

namespace {

// A write that a deadlock undid is tried again, this often in all: the condition keeps a
// retry from writing over a change that came in between.
constexpr int WriteAttempts = 4;

// A FLOAT is shown with 6 significant digits, fewer than it holds; the values that show
// alike lie within a millionth of the shown one.
constexpr double ShownFloatMargin = 1e-5;

}  // namespace

// The parameters of one execution. Values are borrowed; they must outlive execute().
class MariaDbRowUpdater::Parameters {
 public:
  explicit Parameters(std::size_t count) {
    binds_.reserve(count), lengths_.reserve(count), numbers_.reserve(count);
  }

  void add(const char* data, unsigned long length, bool null, bool binary) {
    lengths_.push_back(length);
    MYSQL_BIND bind{};
    bind.buffer_type = binary ? MYSQL_TYPE_BLOB : MYSQL_TYPE_STRING;
    bind.buffer = const_cast<char*>(data ? data : "");
    bind.buffer_length = length;
    bind.length = &lengths_.back();
    bind.is_null = null ? &True : nullptr;
    binds_.push_back(bind);
  }
  void add(const FieldBytes& value, bool binary) {
    add(value.data, value.length, value.null, binary);
  }
  void add(const std::optional<QByteArray>& value, bool binary) {
    add(value ? value->constData() : nullptr, value ? value->size() : 0, !value, binary);
  }
  // A BIT value arrives as its bytes, most significant first; it compares as a number.
  void addBits(const FieldBytes& value) {
    std::uint64_t number = 0;
    for (unsigned long i = 0; i < value.length; ++i) number = number << 8 | uchar(value.data[i]);
    numbers_.push_back({.bits = number});
    MYSQL_BIND bind{};
    bind.buffer_type = MYSQL_TYPE_LONGLONG;
    bind.buffer = &numbers_.back().bits;
    bind.is_unsigned = 1;
    bind.is_null = value.null ? &True : nullptr;
    binds_.push_back(bind);
  }
  void addCount(qulonglong count) {
    numbers_.push_back({.bits = count});
    MYSQL_BIND bind{};
    bind.buffer_type = MYSQL_TYPE_LONGLONG;
    bind.buffer = &numbers_.back().bits;
    bind.is_unsigned = 1;
    binds_.push_back(bind);
  }
  void addDouble(double value) {
    numbers_.push_back({.real = value});
    MYSQL_BIND bind{};
    bind.buffer_type = MYSQL_TYPE_DOUBLE;
    bind.buffer = &numbers_.back().real;
    binds_.push_back(bind);
  }
  MYSQL_BIND* binds() { return binds_.data(); }

 private:
  union Number {
    std::uint64_t bits;
    double real;
  };
  static inline my_bool True = 1;
  std::vector<MYSQL_BIND> binds_;
  // Reserved up front: binds point into them.
  std::vector<unsigned long> lengths_;
  std::vector<Number> numbers_;
};

struct MariaDbRowUpdater::Statement {
  StatementHandle handle;
  std::vector<Match> matches;
};

MariaDbRowUpdater::MariaDbRowUpdater(MariaDbSession& session, const FieldCollection& fields,
                                     const QByteArrayList* knownKey)
    : RowUpdater(fields),
      session_(session),
      table_(QuotedIdentifier(database_) + '.' + QuotedIdentifier(tableName_)) {
  if (!knownKey || !takeKey(*knownKey)) findRowKey();
}

// Asked once, when first needed: an updater made only to find a row's key never asks.
bool MariaDbRowUpdater::readsBack() const {
  if (!readsBack_) readsBack_ = keyed() && hasTriggerBeforeUpdate();
  return *readsBack_;
}

// A trigger that runs before an update may change the value on its way into the row.
bool MariaDbRowUpdater::hasTriggerBeforeUpdate() const {
  MYSQL* mysql = session_.idle();
  const QByteArray sql = "SELECT 1 FROM information_schema.TRIGGERS WHERE EVENT_OBJECT_SCHEMA = " +
                         TextLiteral(database_) +
                         " AND EVENT_OBJECT_TABLE = " + TextLiteral(tableName_) +
                         " AND EVENT_MANIPULATION = 'UPDATE' AND ACTION_TIMING = 'BEFORE' LIMIT 1";
  if (mysql_real_query(mysql, sql.constData(), sql.size())) throw MariaDbError(mysql);
  const ResultHandle result(mysql_store_result(mysql));
  if (!result) throw MariaDbError(mysql);
  return mysql_num_rows(result.get()) > 0;
}

MariaDbRowUpdater::~MariaDbRowUpdater() = default;

// The primary key, else the first unique key without nulls, provided that the result
// holds all of its columns.
void MariaDbRowUpdater::findRowKey() {
  for (const UniqueKey& key : UniqueKeysOf(session_.idle(), table_)) {
    if (!key.nullable && takeKey(key.columns)) return;
  }
}

MariaDbRowUpdater::Match::Form MariaDbRowUpdater::matchOfKey(int field) const {
  switch (fields_.at(field).type) {
    case MYSQL_TYPE_FLOAT:
      return Match::ShownKey;
    case MYSQL_TYPE_BIT:
      return Match::Bits;
    default:
      // Key columns may use their own equality: the key is unique under its collation.
      return Match::KeyEqual;
  }
}

bool MariaDbRowUpdater::comparesAsBytes(int field) const {
  const int type = fields_.at(field).type;
  return type != MYSQL_TYPE_FLOAT && type != MYSQL_TYPE_BIT;
}

QByteArray MariaDbRowUpdater::condition(const Match& match) const {
  const FieldInfo& info = fields_.at(match.field);
  const QByteArray column = QuotedIdentifier(info.column);
  switch (match.form) {
    case Match::KeyEqual:
      return column + " = ?";
    case Match::ShownKey:
      return column + " BETWEEN ? AND ? AND " + BytesAsRead(info) + " = ?";
    case Match::Bits:
      return column + " <=> ?";
    case Match::ByteExact:
      return StandsAsRead(info, {}, "?");
  }
  return {};
}

MariaDbRowUpdater::Statement& MariaDbRowUpdater::statementFor(const Assignments& assignments) {
  QByteArray cacheKey = "SET ";
  for (const auto& [field, value] : assignments) cacheKey += QByteArray::number(field) + ',';
  if (const auto known = statements_.find(cacheKey); known != statements_.end()) {
    return *known->second;
  }
  QByteArray head = "UPDATE " + table_ + " SET ";
  std::vector<int> exact;
  for (auto it = assignments.begin(); it != assignments.end(); ++it) {
    if (it != assignments.begin()) head += ", ";
    head += QuotedIdentifier(fields_.at(it->first).column) + " = ?";
    exact.push_back(it->first);
  }
  return prepared(cacheKey, head, exact, " LIMIT 1");
}

// The statement `head` WHERE the row's identity AND `exactFields` byte for byte `tail`,
// prepared once per `cacheKey`.
MariaDbRowUpdater::Statement& MariaDbRowUpdater::prepared(const QByteArray& cacheKey,
                                                          const QByteArray& head,
                                                          const std::vector<int>& exactFields,
                                                          const QByteArray& tail) {
  std::unique_ptr<Statement>& statement = statements_[cacheKey];
  if (statement) return *statement;

  auto made = std::make_unique<Statement>();
  for (int field : keyFields_) made->matches.push_back({field, matchOfKey(field)});
  for (int field : keyFields_.empty() ? tableFields_ : exactFields) {
    const bool bits = fields_.at(field).type == MYSQL_TYPE_BIT;
    made->matches.push_back({field, bits ? Match::Bits : Match::ByteExact});
  }
  QByteArrayList conditions;
  for (const Match& match : made->matches) conditions << condition(match);
  const QByteArray sql = head + " WHERE " + conditions.join(" AND ") + tail;

  MYSQL* mysql = session_.idle();
  made->handle.reset(mysql_stmt_init(mysql));
  if (!made->handle) throw MariaDbError(mysql);
  if (mysql_stmt_prepare(made->handle.get(), sql.constData(), sql.size())) {
    throw MariaDbError(made->handle.get());
  }
  statement = std::move(made);
  return *statement;
}

void MariaDbRowUpdater::bindConditions(Parameters& parameters, const Statement& statement,
                                       const std::vector<FieldBytes>& current) const {
  for (const Match& match : statement.matches) {
    const FieldBytes& read = current[std::size_t(match.field)];
    switch (match.form) {
      case Match::KeyEqual:
        parameters.add(read, fields_.at(match.field).binary);
        break;
      case Match::ShownKey: {
        const double shown = QByteArray(read.data, qsizetype(read.length)).toDouble();
        parameters.addDouble(shown - std::abs(shown) * ShownFloatMargin);
        parameters.addDouble(shown + std::abs(shown) * ShownFloatMargin);
        parameters.add(read, true);
        break;
      }
      case Match::Bits:
        parameters.addBits(read);
        break;
      case Match::ByteExact:
        // Text compares as the UTF-8 that it was read in.
        parameters.add(read, true);
        break;
    }
  }
}

void MariaDbRowUpdater::write(const std::vector<FieldBytes>& current,
                              const Assignments& assignments, WriteObserver* observer) {
  if (!tryWrite(current, assignments, observer)) {
    throw DbError(DbMessages::RowNotLocated, 0, "HY000");
  }
}

bool MariaDbRowUpdater::tryWrite(const std::vector<FieldBytes>& current,
                                 const Assignments& assignments, WriteObserver* observer) {
  for (const auto& [field, value] : assignments) {
    if (fields_.at(field).table.isEmpty()) throw DbError(DbMessages::NoBaseTable);
  }
  Statement& statement = statementFor(assignments);
  Parameters parameters(assignments.size() + 3 * statement.matches.size());
  for (const auto& [field, value] : assignments) parameters.add(value, fields_.at(field).binary);
  bindConditions(parameters, statement, current);

  MYSQL_STMT* handle = statement.handle.get();
  MYSQL* mysql = session_.idle();
  if (mysql_stmt_bind_param(handle, parameters.binds())) throw MariaDbError(handle);
  if (observer) {
    for (const auto& [field, value] : assignments) {
      observer->aboutToWrite(changeOf(current, field, value));
    }
  }
  // Where a trigger may change the value on its way, the row is read back before the
  // write is committed, so that the journal keeps what the row holds.
  const bool readBack = assignments.size() == 1 && readsBack();
  std::optional<Transaction> transaction;
  std::optional<QByteArray> holds;
  bool written = false;
  try {
    if (readBack) transaction.emplace(Transaction::Begin(mysql));
    for (int attempt = 1; mysql_stmt_execute(handle); ++attempt) {
      if (mysql_stmt_errno(handle) != ER_LOCK_DEADLOCK || attempt == WriteAttempts || readBack) {
        throw MariaDbError(handle);
      }
    }
    written = mysql_stmt_affected_rows(handle) > 0;
    if (readBack && written) holds = valueOf(current, assignments.begin()->first);
    if (transaction) transaction->commit();
  } catch (const DbError& failure) {
    // A statement on its own commits or fails whole, and so does the transaction around
    // it: only a lost link leaves it in doubt.
    if (observer) {
      observer->settled(failure.connectionLost() ? WriteSettled::InDoubt
                                                 : WriteSettled::NotWritten);
    }
    throw;
  }
  if (!observer) return written;
  if (holds && *holds != assignments.begin()->second) {
    observer->settled(WriteSettled::Written, &holds);
  } else {
    observer->settled(written ? WriteSettled::Written : WriteSettled::NotWritten);
  }
  return written;
}

qulonglong MariaDbRowUpdater::writeAlike(const std::vector<FieldBytes>& current, int field,
                                         const std::optional<QByteArray>& value, qulonglong count) {
  const QByteArray column = QuotedIdentifier(fields_.at(field).column);
  Statement& statement = prepared(
      "ALIKE " + QByteArray::number(field),
      "SET STATEMENT innodb_lock_wait_timeout = 0 FOR UPDATE " + table_ + " SET " + column + " = ?",
      {field}, " LIMIT ?");
  Parameters parameters(2 + 3 * statement.matches.size());
  parameters.add(value, fields_.at(field).binary);
  bindConditions(parameters, statement, current);
  parameters.addCount(count);
  MYSQL_STMT* handle = statement.handle.get();
  if (mysql_stmt_bind_param(handle, parameters.binds()) || mysql_stmt_execute(handle)) {
    throw MariaDbError(handle);
  }
  return mysql_stmt_affected_rows(handle);
}

// The value that `field` of the row of `current` holds now, found by the row's key.
std::optional<QByteArray> MariaDbRowUpdater::valueOf(const std::vector<FieldBytes>& current,
                                                     int field) {
  const QByteArray cacheKey = "READ " + QByteArray::number(field);
  Statement& statement =
      prepared(cacheKey, "SELECT " + QuotedIdentifier(fields_.at(field).column) + " FROM " + table_,
               {}, " LIMIT 1");
  Parameters parameters(3 * statement.matches.size());
  bindConditions(parameters, statement, current);
  MYSQL_STMT* handle = statement.handle.get();
  unsigned long length = 0;
  my_bool null = 0;
  MYSQL_BIND result{};
  result.buffer_type = MYSQL_TYPE_BLOB;
  result.length = &length;
  result.is_null = &null;
  if (mysql_stmt_bind_param(handle, parameters.binds()) || mysql_stmt_execute(handle) ||
      mysql_stmt_bind_result(handle, &result)) {
    throw MariaDbError(handle);
  }
  const auto freed = [handle] { mysql_stmt_free_result(handle); };
  const int fetched = mysql_stmt_fetch(handle);
  if (fetched == 1 || fetched == MYSQL_NO_DATA) {
    const DbError failure =
        fetched == 1 ? MariaDbError(handle) : DbError(DbMessages::RowNotLocated);
    freed();
    throw failure;
  }
  std::optional<QByteArray> value;
  if (!null) {
    value = QByteArray(qsizetype(length), Qt::Uninitialized);
    result.buffer = value->data();
    result.buffer_length = length;
    if (length > 0 && mysql_stmt_fetch_column(handle, &result, 0, 0)) {
      const DbError failure = MariaDbError(handle);
      freed();
      throw failure;
    }
  }
  while (mysql_stmt_fetch(handle) == 0) {
  }
  freed();
  return value;
}

bool MariaDbRowUpdater::rowExists(const std::vector<FieldBytes>& current,
                                  const std::vector<int>& exactFields) {
  QByteArray cacheKey = "EXISTS ";
  for (int field : exactFields) cacheKey += QByteArray::number(field) + ',';
  Statement& statement = prepared(cacheKey, "SELECT 1 FROM " + table_, exactFields, " LIMIT 1");
  Parameters parameters(3 * statement.matches.size());
  bindConditions(parameters, statement, current);
  MYSQL_STMT* handle = statement.handle.get();
  session_.idle();
  if (mysql_stmt_bind_param(handle, parameters.binds()) || mysql_stmt_execute(handle) ||
      mysql_stmt_store_result(handle)) {
    throw MariaDbError(handle);
  }
  const bool found = mysql_stmt_num_rows(handle) > 0;
  mysql_stmt_free_result(handle);
  return found;
}
