#include "ChunkTable.h"

#include <QByteArrayList>
#include <algorithm>

#include "ChunkInsert.h"
#include "ChunkTableSizes.h"
#include "MariaDbError.h"
#include "MariaDbRowUpdater.h"
#include "MariaDbSession.h"
#include "RowCheck.h"
#include "SqlText.h"
#include "Transaction.h"

namespace {

// Big enough that a round trip of 5 ms costs little beside the chunk's own work.
constexpr int MaxChunkRows = 20000;
// A derived table is parsed with the statement: smaller chunks keep that quick.
constexpr int DerivedChunkRows = 2000;
constexpr qsizetype MaxChunkBytes = qsizetype{16} << 20;

std::optional<QByteArrayView> viewOf(const FieldBytes& value) {
  if (value.null) return std::nullopt;
  return QByteArrayView(value.data, qsizetype(value.length));
}

std::optional<QByteArrayView> afterView(const std::optional<QByteArray>* after) {
  return after && *after ? std::optional<QByteArrayView>(**after) : std::nullopt;
}

}  // namespace

std::vector<qint64> ChunkTable::ServerNumbers(MYSQL* mysql, const QByteArray& sql,
                                              std::optional<DbError>* failure) {
  const auto failed = [&] {
    DbError error = MariaDbError(mysql);
    if (!failure || error.connectionLost()) throw error;
    *failure = std::move(error);
  };
  if (mysql_real_query(mysql, sql.constData(), sql.size())) {
    failed();
    return {};
  }
  std::vector<qint64> numbers;
  int status = 0;
  do {
    const ResultHandle result(mysql_store_result(mysql));
    if (!result && mysql_field_count(mysql)) throw MariaDbError(mysql);
    if (const MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr) {
      numbers.assign(mysql_num_fields(result.get()), 0);
      for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (row[i]) numbers[i] = QByteArray(row[i]).toLongLong();
      }
    }
  } while ((status = mysql_next_result(mysql)) == 0);
  if (status > 0) failed();
  return numbers;
}

std::unique_ptr<ChunkTable> ChunkTable::Make(MariaDbSession& session, const FieldCollection& fields,
                                             const MariaDbRowUpdater& updater,
                                             std::vector<int> written, QString* whyNot) {
  std::unique_ptr<ChunkTable> table(new ChunkTable(session, fields, updater, std::move(written)));
  if (!table->make(whyNot)) return nullptr;
  return table;
}

ChunkTable::ChunkTable(MariaDbSession& session, const FieldCollection& fields,
                       const MariaDbRowUpdater& updater, std::vector<int> written)
    : session_(session), fields_(fields), updater_(updater), written_(std::move(written)) {}

ChunkTable::~ChunkTable() {
  // The session goes on with one statement a query, as other code expects of it; a
  // session still reading rows is left alone rather than made to read them all.
  if (MYSQL* mysql = session_.idleNow()) {
    mysql_set_server_option(mysql, MYSQL_OPTION_MULTI_STATEMENTS_OFF);
  }
}

bool ChunkTable::make(QString* whyNot) {
  MYSQL* mysql = session_.idle();
  const FieldInfo& info = fields_.at(written_.front());
  const QByteArray name = info.table == "klarifeld_chunk" ? "klarifeld_chunk_" : "klarifeld_chunk";
  name_ = QuotedIdentifier(info.database) + '.' + QuotedIdentifier(name);
  if (mysql_set_server_option(mysql, MYSQL_OPTION_MULTI_STATEMENTS_ON)) throw MariaDbError(mysql);
  if (!updater_.keyed()) return makeKeyless(mysql, whyNot);
  if (!create(mysql, whyNot)) return false;

  const std::size_t keys = updater_.identityFields().size();
  QByteArray columns = "n";
  QByteArrayList join;
  for (std::size_t i = 0; i < keys; ++i) {
    const QByteArray copy = "k" + QByteArray::number(i);
    columns += ", " + copy;
    join << "t." + QuotedIdentifier(fields_.at(updater_.identityFields()[i]).column) + " = c." +
                copy;
  }
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    const QByteArray number = QByteArray::number(slot);
    columns += ", b" + number + ", a" + number;
  }
  sql_.insertHead = "INSERT INTO " + name_ + " (" + columns + ") VALUES ";
  if (!derived()) {
    using Column = ChunkInsert::Column;
    std::vector<Column> layout{Column::Number};
    layout.insert(layout.end(), keys, Column::Value);
    layout.insert(layout.end(), 2 * written_.size(), Column::Bytes);
    insert_ = ChunkInsert::Prepare(mysql, name_, columns, std::move(layout));
  }
  // Without waiting: a row that another holds sends the chunk row by row, where its
  // wait, its report and a stop meanwhile are those of any single write.
  sql_.updateHead =
      "SET STATEMENT innodb_lock_wait_timeout = 0 FOR UPDATE " + updater_.table() + " AS t JOIN ";
  sql_.updateTail = updateTail(join.join(" AND "));
  if (!derived()) makeFieldByField(join.join(" AND "));
  return true;
}

// Makes the chunk table, in memory where its rows fit, and learns the sizes a chunk may
// take; without the privilege for it, the chunk becomes a derived table where the key's
// types allow. False, and `whyNot` says why, when neither can be.
bool ChunkTable::create(MYSQL* mysql, QString* whyNot) {
  std::vector<qsizetype> valueBytes;
  qsizetype rowBytes = 0;
  for (int field : written_) {
    valueBytes.push_back(qsizetype(fields_.at(field).length));
    rowBytes += 2 * valueBytes.back();
  }
  const bool inMemory =
      rowBytes <= InMemoryRowBytes &&
      std::all_of(valueBytes.begin(), valueBytes.end(), [](qsizetype bytes) { return bytes > 0; });
  // The table is made in the same round trip as the sizes are asked.
  std::optional<DbError> refused;
  const std::vector<qint64> sizes =
      ServerNumbers(mysql,
                    "SELECT @@max_allowed_packet, " + HeapBytes + "; " +
                        creation(inMemory ? valueBytes : std::vector<qsizetype>{}),
                    &refused);
  if (sizes.size() != 2) {
    throw refused.value_or(DbError(QStringLiteral("The server did not say its sizes.")));
  }
  const qint64 packet = sizes[0], heap = sizes[1];
  maxBytes_ = std::min<qint64>(MaxChunkBytes, packet / 2);
  maxRows_ = MaxChunkRows;
  if (inMemory && !refused) {
    valueCapacity_ = valueBytes;
    // Rows in memory take their full width; half the allowed size leaves room to spare.
    maxRows_ = int(std::clamp<qint64>(heap / 2 / (rowBytes + 256), 1, MaxChunkRows));
  } else if (inMemory) {
    refused.reset();
    ServerNumbers(mysql, creation({}), &refused);
  }
  if (!refused) return true;
  // Without a temporary table the chunk travels inside the UPDATE as a derived table,
  // which needs no privilege beyond the write itself.
  if (!castKeys(mysql)) {
    if (whyNot) {
      *whyNot = QStringLiteral("the server refused a temporary table for them (%1)")
                    .arg(QString::fromUtf8(refused->what()));
    }
    return false;
  }
  maxRows_ = DerivedChunkRows;
  return true;
}

// The statement that makes the chunk table: in memory with columns of `valueBytes` (by
// slot), or, without them, on disk with columns of any size. Its key columns take the
// key's own types.
QByteArray ChunkTable::creation(const std::vector<qsizetype>& valueBytes) const {
  const bool memory = !valueBytes.empty();
  QByteArray columns;
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    const QByteArray type =
        memory ? "VARBINARY(" + QByteArray::number(valueBytes[slot]) + ")" : QByteArray("LONGBLOB");
    const QByteArray number = QByteArray::number(slot);
    columns += ", b" + number + ' ' + type + " NULL, a" + number + ' ' + type + " NULL";
  }
  QByteArrayList keyColumns;
  const std::vector<int>& key = updater_.identityFields();
  for (std::size_t i = 0; i < key.size(); ++i) {
    keyColumns << "t." + QuotedIdentifier(fields_.at(key[i]).column) + " AS k" +
                      QByteArray::number(i);
  }
  // Only this table may grow to the size a chunk in memory needs: the session's own limit
  // stays as it was.
  return QByteArray(memory ? "SET STATEMENT max_heap_table_size = " + HeapBytes + " FOR " : "") +
         "CREATE OR REPLACE TEMPORARY TABLE " + name_ +
         " (n INT UNSIGNED NOT NULL DEFAULT 0 PRIMARY KEY, "
         "written TINYINT NOT NULL DEFAULT 0" +
         columns + ") ENGINE=" + (memory ? "MEMORY" : "InnoDB") + " SELECT " +
         keyColumns.join(", ") + " FROM " + updater_.table() + " AS t LIMIT 0";
}

// The UPDATE after its chunk: each field written where the row writes it, each field that it
// writes standing as read. Of several fields, a field that the row keeps has neither an old
// nor a new value in the chunk (a row never writes a null over a null): the rows carry no
// more than their values. The chunk table's rows are marked as their rows are written: a
// chunk that met a row changed since it was read knows which rows it wrote.
QByteArray ChunkTable::updateTail(const QByteArray& join) const {
  QByteArrayList assignments, conditions;
  const bool several = written_.size() > 1;
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    const SlotSql field = slotSql(slot);
    assignments << field.column + " = " +
                       (several ? "IF(" + field.keeps + ", " + field.column + ", " +
                                      field.newValue + ")"
                                : field.newValue);
    conditions << (several ? "(" + field.keeps + " OR " + field.stands + ")" : field.stands);
  }
  if (!derived()) assignments << "c.written = 1";
  return " AS c ON " + join + " SET " + assignments.join(", ") + " WHERE " +
         conditions.join(" AND ");
}

void ChunkTable::makeFieldByField(const QByteArray& join) {
  QByteArrayList states, assignments, written;
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    const SlotSql field = slotSql(slot);
    const QByteArray writes = "NOT (" + field.keeps + ") AND " + field.stands;
    states << "CASE WHEN " + field.keeps + " THEN 0 WHEN " + field.stands + " THEN 1 WHEN " +
                  field.holdsNew + " THEN 2 ELSE 3 END";
    assignments << field.column + " = IF(" + writes + ", " + field.newValue + ", " + field.column +
                       ")";
    written << "(" + writes + ")";
  }
  const QByteArray joined = updater_.table() + " AS t JOIN " + name_ + " AS c ON " + join;
  sql_.fieldStates = "SET STATEMENT innodb_lock_wait_timeout = 0 FOR SELECT c.n, " +
                     states.join(", ") + " FROM " + joined + " FOR UPDATE";
  sql_.fieldUpdate = "SET STATEMENT innodb_lock_wait_timeout = 0 FOR UPDATE " + joined + " SET " +
                     assignments.join(", ") + " WHERE " + written.join(" OR ");
}

// The parts of the statements about the field of `slot`: the table's column (t) and the chunk
// table's values (c).
ChunkTable::SlotSql ChunkTable::slotSql(std::size_t slot) const {
  const FieldInfo& info = fields_.at(written_[slot]);
  const QByteArray number = QByteArray::number(slot);
  const QByteArray before = "c.b" + number, after = "c.a" + number;
  return {.column = "t." + QuotedIdentifier(info.column),
          .newValue = info.binary ? after : "CONVERT(" + after + " USING utf8mb4)",
          .keeps = before + " IS NULL AND " + after + " IS NULL",
          .stands = StandsAsRead(info, "t.", before),
          .holdsNew = StandsAsRead(info, "t.", after)};
}

// How a derived table's key values take the key's own types, so that the join compares
// them by the key's equality and uses its index: false for a type without such a form.
bool ChunkTable::castKeys(MYSQL* mysql) {
  const FieldInfo& info = fields_.at(written_.front());
  for (int key : updater_.identityFields()) {
    const QByteArray sql =
        "SELECT DATA_TYPE, COLUMN_TYPE, CHARACTER_SET_NAME, COLLATION_NAME, NUMERIC_PRECISION, "
        "NUMERIC_SCALE, DATETIME_PRECISION FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
        TextLiteral(info.database) + " AND TABLE_NAME = " + TextLiteral(info.table) +
        " AND COLUMN_NAME = " + TextLiteral(fields_.at(key).column);
    if (mysql_real_query(mysql, sql.constData(), sql.size())) throw MariaDbError(mysql);
    const ResultHandle result(mysql_store_result(mysql));
    const MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
    if (!row) return false;
    const QByteArray type(row[0]), columnType(row[1]);
    const auto number = [&](int at) { return QByteArray(row[at] ? row[at] : "0"); };
    Cast cast;
    if (type.endsWith("int")) {
      cast = {"CAST(", columnType.contains("unsigned") ? " AS UNSIGNED)" : " AS SIGNED)"};
    } else if (type == "decimal") {
      cast = {"CAST(", " AS DECIMAL(" + number(4) + "," + number(5) + "))"};
    } else if (type == "double" || type == "date" || type == "year") {
      cast = {"CAST(", type == "year" ? " AS UNSIGNED)" : " AS " + type.toUpper() + ")"};
    } else if (type == "datetime" || type == "timestamp" || type == "time") {
      cast = {"CAST(", (type == "time" ? " AS TIME(" : " AS DATETIME(") + number(6) + "))"};
    } else if (type.endsWith("char") || type.endsWith("text") || type == "enum" || type == "set") {
      // Names from the server go into the statement only as the plain names they are.
      const auto plainName = [](const char* name) {
        const QByteArray text(name ? name : "");
        return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) {
          return std::isalnum(uchar(c)) || c == '_';
        });
      };
      if (!plainName(row[2]) || !plainName(row[3])) return false;
      cast = {"CONVERT(", QByteArray(" USING ") + row[2] + ") COLLATE " + row[3]};
    } else if (!type.endsWith("binary") && !type.endsWith("blob")) {
      return false;
    }
    keyCasts_.push_back(cast);
  }
  form_ = Form::Derived;
  return true;
}

bool ChunkTable::fits(const std::vector<FieldBytes>& row, const SlotValues& afters) const {
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    if (!afters[slot]) continue;
    const std::optional<QByteArray>& after = *afters[slot];
    const FieldBytes& before = row[std::size_t(written_[slot])];
    if (written_.size() > 1 && before.null && !after) return false;
    if (valueCapacity_.empty()) continue;
    const qsizetype capacity = valueCapacity_[slot];
    if (qsizetype(before.length) > capacity || (after && after->size() > capacity)) return false;
  }
  return true;
}

void ChunkTable::appendRow(QByteArray& listed, qsizetype n, const std::vector<FieldBytes>& row,
                           const SlotValues& afters) const {
  // Only a derived table names its columns: "n", "k0", "b1"…
  const auto name = [&](char prefix, std::size_t index = 0, bool numbered = true) {
    if (!derived()) return;
    listed += " AS ";
    listed += prefix;
    if (numbered) listed += QByteArray::number(index);
  };
  AppendNumber(listed, n);
  name('n', 0, false);
  if (keyless()) {
    std::vector<std::optional<QByteArrayView>> values;
    for (int field : updater_.identityFields()) values.push_back(viewOf(row[std::size_t(field)]));
    listed += ',';
    AppendNumber(listed, RowHash(values));
  }
  const std::vector<int>& key = updater_.identityFields();
  for (std::size_t i = 0; i < key.size(); ++i) {
    listed += ',';
    // A keyless table's values are kept as the bytes that they were read as.
    const bool text = !fields_.at(key[i]).binary && !keyless();
    if (derived()) listed += keyCasts_[i].before;
    AppendHexLiteral(listed, viewOf(row[std::size_t(key[i])]), text);
    if (derived()) listed += keyCasts_[i].after;
    name('k', i);
  }
  // A keyless table's row holds its old value among the values that find it.
  if (keyless()) {
    listed += ',';
    AppendHexLiteral(listed, afterView(afters.front()), false);
    return;
  }
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    const bool writes = afters[slot] != nullptr;
    listed += ',';
    AppendHexLiteral(listed, writes ? viewOf(row[std::size_t(written_[slot])]) : std::nullopt,
                     false);
    name('b', slot);
    listed += ',';
    AppendHexLiteral(listed, afterView(afters[slot]), false);
    name('a', slot);
  }
}

QByteArray ChunkTable::listedStatement(const std::vector<QByteArrayView>& rows) const {
  qsizetype bytes = 0;
  for (QByteArrayView row : rows) bytes += row.size() + 20;
  QByteArray sql;
  sql.reserve(bytes + sql_.insertHead.size() + sql_.updateHead.size() + sql_.updateTail.size() +
              2 * name_.size() + 64);
  if (derived()) {
    sql += Transaction::Opening + sql_.updateHead + '(';
  } else {
    sql += "DELETE FROM " + name_ + "; " + Transaction::Opening + sql_.insertHead;
  }
  bool first = true;
  for (QByteArrayView row : rows) {
    if (derived()) {
      sql += first ? "SELECT " : " UNION ALL SELECT ";
      sql += row;
    } else {
      sql += first ? "(" : ",(";
      sql += row;
      sql += ')';
    }
    first = false;
  }
  if (derived()) return sql + ')' + sql_.updateTail;
  return sql + "; " + sql_.updateHead + name_ + sql_.updateTail;
}

void ChunkTable::fill(const std::vector<QueuedRow>& writing, const std::vector<std::size_t>& part) {
  MYSQL* mysql = session_.idle();
  if (holdsRows_) {
    const QByteArray sql = "DELETE FROM " + name_;
    if (mysql_real_query(mysql, sql.constData(), sql.size())) throw MariaDbError(mysql);
  }
  holdsRows_ = true;
  const std::size_t keys = updater_.identityFields().size();
  for (std::size_t i : part) {
    const QueuedRow& queued = writing[i];
    insert_->addNumber(unsigned(i));
    qsizetype at = 0;
    for (std::size_t k = 0; k < keys; ++k) insert_->addValue(NextPackedValue(queued.packed, at));
    for (std::size_t slot = 0; slot < written_.size(); ++slot) {
      insert_->addValue(NextPackedValue(queued.packed, at));  // as read
      insert_->addValue(NextPackedValue(queued.packed, at));  // new
    }
  }
  insert_->execute();
}

QByteArray ChunkTable::fillingUpdate(const QByteArray& committed) const {
  return sql_.updateHead + name_ + sql_.updateTail +
         "; SET @klarifeld_written = ROW_COUNT(); DELETE FROM " + name_ + " WHERE written = 1; " +
         committed;
}

std::vector<std::size_t> ChunkTable::rowsNotWritten(const std::vector<std::size_t>& part) const {
  MYSQL* mysql = session_.idle();
  const QByteArray sql = "SELECT n FROM " + name_ + " WHERE written = 0 ORDER BY n";
  if (mysql_real_query(mysql, sql.constData(), sql.size())) throw MariaDbError(mysql);
  const ResultHandle result(mysql_store_result(mysql));
  if (!result) throw MariaDbError(mysql);
  std::vector<std::size_t> notWritten;
  while (const MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const std::size_t n = std::size_t(QByteArray(row[0]).toULongLong());
    if (std::binary_search(part.begin(), part.end(), n)) notWritten.push_back(n);
  }
  return notWritten;
}
