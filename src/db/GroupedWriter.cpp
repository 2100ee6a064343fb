#include "GroupedWriter.h"

#include <mysqld_error.h>

#include <QByteArrayList>
#include <QScopeGuard>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>

#include "ChunkInsert.h"
#include "RowUpdater.h"
#include "Session.h"
#include "Transaction.h"

namespace {

// Big enough that a round trip of 5 ms costs little beside the chunk's own work.
constexpr int MaxChunkRows = 20000;
// A derived table is parsed with the statement: smaller chunks keep that quick.
constexpr int DerivedChunkRows = 2000;
constexpr qsizetype MaxChunkBytes = qsizetype{16} << 20;
// A chunk table row up to this size is kept in memory (MEMORY stores rows at full width).
constexpr qsizetype InMemoryRowBytes = 4096;
// How often a chunk lost to a deadlock is tried in all.
constexpr int ChunkAttempts = 4;
// A refused chunk is split in halves down to this size; then its rows go on their own.
constexpr std::size_t SmallestSplit = 8;

void appendHex(QByteArray& sql, std::optional<QByteArrayView> value, bool text) {
  if (!value) {
    sql += "NULL";
    return;
  }
  static constexpr char Digits[] = "0123456789abcdef";
  // As text a value is converted to its column's character set; as bytes it is not.
  if (text) sql += "_utf8mb4 ";
  sql += "X'";
  const qsizetype start = sql.size();
  sql.resize(start + 2 * value->size());
  char* out = sql.data() + start;
  for (const char byte : *value) {
    *out++ = Digits[uchar(byte) >> 4];
    *out++ = Digits[uchar(byte) & 15];
  }
  sql += '\'';
}

std::optional<QByteArrayView> viewOf(const FieldBytes& value) {
  if (value.null) return std::nullopt;
  return QByteArrayView(value.data, qsizetype(value.length));
}

}  // namespace

// The numbers of the last row that the statements read; zeros where a value is null. A
// statement that fails ends them: it is thrown, or, given `failure`, kept there unless the
// link broke.
std::vector<qint64> GroupedWriter::serverNumbers(MYSQL* mysql, const char* sql,
                                                 std::optional<DbError>* failure) {
  const auto failed = [&] {
    DbError error = DbError::from(mysql);
    if (!failure || error.connectionLost()) throw error;
    *failure = std::move(error);
  };
  if (mysql_query(mysql, sql)) {
    failed();
    return {};
  }
  std::vector<qint64> numbers;
  int status = 0;
  do {
    const ResultHandle result(mysql_store_result(mysql));
    if (!result && mysql_field_count(mysql)) throw DbError::from(mysql);
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

std::unique_ptr<GroupedWriter> GroupedWriter::For(Session& session, const FieldCollection& fields,
                                                  RowUpdater& updater, std::vector<int> written,
                                                  QString* whyNot) {
  if (updater.readsBack()) {
    if (whyNot) {
      *whyNot = QStringLiteral(
          "a trigger of the table may change a value as it is written, so each one is read "
          "back for the journal");
    }
    return nullptr;
  }
  // The chunk's statements use MariaDB's own forms (SET STATEMENT, CREATE OR REPLACE).
  if (!QByteArray(mysql_get_server_info(session.idle())).contains("MariaDB")) return nullptr;
  const std::vector<int>& identity = updater.identityFields();
  const auto onlyFoundOneByOne = [&](int f) { return !updater.comparesAsBytes(f); };
  if (std::any_of(identity.begin(), identity.end(), onlyFoundOneByOne) ||
      std::any_of(written.begin(), written.end(), onlyFoundOneByOne) ||
      fields.at(written.front()).table.isEmpty()) {
    if (!updater.keyed() && whyNot) {
      *whyNot = QStringLiteral(
          "the table has no primary or unique key, and a FLOAT or BIT column of it finds its "
          "row only one by one");
    }
    return nullptr;
  }
  // Fields that find the rows are written one after the other: the later ones find their
  // rows by the earlier ones' new values.
  const auto findsRows = [&](int f) {
    return std::find(identity.begin(), identity.end(), f) != identity.end();
  };
  if (written.size() > 1 && (written.size() > MaxFields || !updater.keyed() ||
                             std::any_of(written.begin(), written.end(), findsRows))) {
    return nullptr;
  }
  std::unique_ptr<GroupedWriter> writer(
      new GroupedWriter(session, fields, updater, std::move(written)));
  if (!writer->makeChunkTable(whyNot)) return nullptr;
  return writer;
}

GroupedWriter::GroupedWriter(Session& session, const FieldCollection& fields, RowUpdater& updater,
                             std::vector<int> written)
    : session_(session), fields_(fields), updater_(updater), written_(std::move(written)) {}

// The session goes on with one statement a query, as other code expects of it; a session
// still reading rows is left alone rather than made to read them all.
GroupedWriter::~GroupedWriter() {
  if (underWay_.valid()) underWay_.wait();  // its rows stay untold
  if (MYSQL* mysql = session_.idleNow()) {
    mysql_set_server_option(mysql, MYSQL_OPTION_MULTI_STATEMENTS_OFF);
  }
}

// The chunk table carries each row's key (in the key's own types, so that the join uses
// the key's equality and index) and, for each field, its value as read and its new value,
// as bytes; of several fields, also whether the row writes it.
bool GroupedWriter::makeChunkTable(QString* whyNot) {
  MYSQL* mysql = session_.idle();
  const FieldInfo& info = fields_.at(written_.front());
  const QByteArray name = info.table == "klarifeld_chunk" ? "klarifeld_chunk_" : "klarifeld_chunk";
  chunkTable_ = QuotedIdentifier(info.database) + '.' + QuotedIdentifier(name);
  const QByteArray table = updater_.table();

  QByteArrayList keyColumns, join;
  const std::vector<int>& key = updater_.identityFields();
  for (std::size_t i = 0; i < key.size(); ++i) {
    const QByteArray column = QuotedIdentifier(fields_.at(key[i]).column);
    const QByteArray copy = "k" + QByteArray::number(i);
    keyColumns << "t." + column + " AS " + copy;
    join << "t." + column + " = c." + copy;
  }
  // A chunk's statements travel as one text; values in it are all hex literals.
  if (mysql_set_server_option(mysql, MYSQL_OPTION_MULTI_STATEMENTS_ON)) throw DbError::from(mysql);
  if (!updater_.keyed()) return makeKeylessChunkTable(mysql, whyNot);
  std::vector<qsizetype> valueBytes;
  qsizetype rowBytes = 0;
  for (int field : written_) {
    valueBytes.push_back(qsizetype(fields_.at(field).length));
    rowBytes += 2 * valueBytes.back();
  }
  const bool inMemory =
      rowBytes <= InMemoryRowBytes &&
      std::all_of(valueBytes.begin(), valueBytes.end(), [](qsizetype bytes) { return bytes > 0; });
  const auto creation = [&](bool memory) {
    QByteArray columns;
    for (std::size_t slot = 0; slot < written_.size(); ++slot) {
      const QByteArray type = memory ? "VARBINARY(" + QByteArray::number(valueBytes[slot]) + ")"
                                     : QByteArray("LONGBLOB");
      const QByteArray number = QByteArray::number(slot);
      columns += ", b" + number + ' ' + type + " NULL, a" + number + ' ' + type + " NULL";
    }
    return "CREATE OR REPLACE TEMPORARY TABLE " + chunkTable_ +
           " (n INT UNSIGNED NOT NULL DEFAULT 0 PRIMARY KEY, "
           "written TINYINT NOT NULL DEFAULT 0" +
           columns + ") ENGINE=" + (memory ? "MEMORY" : "InnoDB") + " SELECT " +
           keyColumns.join(", ") + " FROM " + table + " AS t LIMIT 0";
  };
  // A chunk table in memory may grow to this size on this session. The table is made in
  // the same round trip, in memory where its rows fit.
  std::optional<DbError> refused;
  const std::vector<qint64> sizes = serverNumbers(
      mysql,
      "SET SESSION max_heap_table_size = GREATEST(@@max_heap_table_size, 64 * 1024 * 1024); "
      "SELECT @@max_allowed_packet, @@max_heap_table_size; " +
          creation(inMemory),
      &refused);
  if (sizes.size() != 2) {
    throw refused.value_or(DbError(QStringLiteral("The server did not say its sizes.")));
  }
  const qint64 packet = sizes[0], heap = sizes[1];
  maxChunkBytes_ = std::min<qint64>(MaxChunkBytes, packet / 2);
  maxChunkRows_ = MaxChunkRows;
  if (inMemory && !refused) {
    valueCapacity_ = valueBytes;
    // Rows in memory take their full width; half the allowed size leaves room to spare.
    maxChunkRows_ = int(std::clamp<qint64>(heap / 2 / (rowBytes + 256), 1, MaxChunkRows));
  } else if (inMemory) {
    refused.reset();
    serverNumbers(mysql, creation(false), &refused);
  }
  if (refused) {
    // Without a temporary table the chunk travels inside the UPDATE as a derived table,
    // which needs no privilege beyond the write itself.
    if (!castKeys(mysql)) {
      if (whyNot) {
        *whyNot = QStringLiteral("the server refused a temporary table for them (%1)")
                      .arg(QString::fromUtf8(refused->what()));
      }
      return false;
    }
    maxChunkRows_ = DerivedChunkRows;
  }

  QByteArray columns = "n";
  for (std::size_t i = 0; i < key.size(); ++i) columns += ", k" + QByteArray::number(i);
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    const QByteArray number = QByteArray::number(slot);
    columns += ", b" + number + ", a" + number;
  }
  insertHead_ = "INSERT INTO " + chunkTable_ + " (" + columns + ") VALUES ";
  if (!derived_) {
    using Column = ChunkInsert::Column;
    std::vector<Column> layout{Column::Number};
    layout.insert(layout.end(), key.size(), Column::Value);
    for (std::size_t slot = 0; slot < written_.size(); ++slot) {
      layout.insert(layout.end(), 2, Column::Bytes);
    }
    insert_ = ChunkInsert::Prepare(mysql, chunkTable_, columns, std::move(layout));
  }
  // Without waiting: a row that another holds sends the chunk row by row, where its
  // wait, its report and a stop meanwhile are those of any single write.
  updateHead_ = "SET STATEMENT innodb_lock_wait_timeout = 0 FOR UPDATE " + table + " AS t JOIN ";
  updateTail_ = updateTail(join.join(" AND "));
  return true;
}

// The UPDATE after its chunk: each field written where the row writes it, each field that it
// writes standing as read. Of several fields, a field that the row keeps has neither an old
// nor a new value in the chunk (a row never writes a null over a null): the rows carry no
// more than their values. The chunk table's rows are marked as their rows are written: a
// chunk that met a row changed since it was read knows which rows it wrote.
QByteArray GroupedWriter::updateTail(const QByteArray& join) const {
  QByteArrayList assignments, conditions;
  const bool several = written_.size() > 1;
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    const FieldInfo& info = fields_.at(written_[slot]);
    const QByteArray number = QByteArray::number(slot);
    const QByteArray column = "t." + QuotedIdentifier(info.column);
    const QByteArray after = "c.a" + number;
    const QByteArray newValue = info.binary ? after : "CONVERT(" + after + " USING utf8mb4)";
    const QByteArray stands = BytesAsRead(info, "t.") + " <=> c.b" + number;
    const QByteArray keeps = "c.b" + number + " IS NULL AND c.a" + number + " IS NULL";
    assignments << column + " = " +
                       (several ? "IF(" + keeps + ", " + column + ", " + newValue + ")" : newValue);
    conditions << (several ? "(" + keeps + " OR " + stands + ")" : stands);
  }
  if (!derived_) assignments << "c.written = 1";
  return " AS c ON " + join + " SET " + assignments.join(", ") + " WHERE " +
         conditions.join(" AND ");
}

// How a derived table's key values take the key's own types, so that the join compares
// them by the key's equality and uses its index: false for a type without such a form.
bool GroupedWriter::castKeys(MYSQL* mysql) {
  const FieldInfo& info = fields_.at(written_.front());
  for (int key : updater_.identityFields()) {
    const QByteArray sql =
        "SELECT DATA_TYPE, COLUMN_TYPE, CHARACTER_SET_NAME, COLLATION_NAME, NUMERIC_PRECISION, "
        "NUMERIC_SCALE, DATETIME_PRECISION FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
        TextLiteral(info.database) + " AND TABLE_NAME = " + TextLiteral(info.table) +
        " AND COLUMN_NAME = " + TextLiteral(fields_.at(key).column);
    if (mysql_real_query(mysql, sql.constData(), sql.size())) throw DbError::from(mysql);
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
  derived_ = true;
  return true;
}

void GroupedWriter::add(qint64 tag, const std::vector<FieldBytes>& row, const NewValues& afters) {
  SlotValues afterOf(written_.size(), nullptr);
  Queued queued;
  queued.tag = tag;
  for (const auto& [slot, after] : afters) {
    afterOf[std::size_t(slot)] = &after;
    queued.writtenSlots |= quint64{1} << slot;
  }
  // The key values, then each field's old and new value (nulls for a field kept), packed
  // in room made for them all at once.
  std::vector<std::optional<QByteArrayView>>& values = packing_;
  values.clear();
  for (int key : updater_.identityFields()) values.push_back(viewOf(row[std::size_t(key)]));
  const std::size_t keys = values.size();
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    const std::optional<QByteArray>* after = afterOf[slot];
    values.push_back(after ? viewOf(row[std::size_t(written_[slot])]) : std::nullopt);
    values.push_back(after && *after ? std::optional<QByteArrayView>(**after) : std::nullopt);
  }
  qsizetype bytes = 0;
  for (const std::optional<QByteArrayView>& value : values) bytes += PackedSize(value);
  queued.packed.reserve(bytes);
  qsizetype keyBytes = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    AppendPackedValue(queued.packed, values[i]);
    if (i + 1 == keys) keyBytes = queued.packed.size();
  }
  // Of several fields, a row queued again goes on its own: one UPDATE writes a row once.
  const bool several = written_.size() > 1;
  // The key's bytes stay where they are when the row moves into the queue.
  const QByteArrayView key = QByteArrayView(queued.packed).first(keyBytes);
  if (fitsChunk(row, afterOf) && !(several && chunkKeys_.contains(key))) {
    const qsizetype mark = chunkBytes();
    if (insert_) {
      insertBytes_ += queued.packed.size();
    } else {
      appendChunkRow(qsizetype(rows_.size()), row, afterOf);
    }
    // A row too big to share a chunk is written on its own.
    if (chunkBytes() - mark > maxChunkBytes_ / 2) {
      values_.truncate(mark);
      insertBytes_ = mark;
    } else {
      queued.from = mark;
      queued.to = chunkBytes();
      if (several) chunkKeys_.insert(key);
    }
  }
  if (!queued.inChunk()) chunkKeys_.clear();  // the chunk so far is written before this row
  rows_.push_back(std::move(queued));
}

// Whether the row can go in the chunk: each new value, and the value it replaces, fits the
// chunk table's columns, and, of several fields, none writes a null over a null, which the
// chunk would take for a field kept.
bool GroupedWriter::fitsChunk(const std::vector<FieldBytes>& row, const SlotValues& afters) const {
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

// The row as the chunk lists it, without its brackets: a row of the INSERT into the chunk
// table, or a row of the derived table, its columns named.
void GroupedWriter::appendChunkRow(qsizetype n, const std::vector<FieldBytes>& row,
                                   const SlotValues& afters) {
  // Only a derived table names its columns: "n", "k0", "b1"…
  const auto name = [&](char prefix, std::size_t index = 0, bool numbered = true) {
    if (!derived_) return;
    values_ += " AS ";
    values_ += prefix;
    if (numbered) values_ += QByteArray::number(index);
  };
  const auto afterView = [](const std::optional<QByteArray>* after) {
    return after && *after ? std::optional<QByteArrayView>(**after) : std::nullopt;
  };
  char number[24];
  values_.append(number, std::to_chars(number, number + sizeof number, n).ptr - number);
  name('n', 0, false);
  if (keyless_) {
    values_ += ',';
    values_.append(number,
                   std::to_chars(number, number + sizeof number, rowHash(row)).ptr - number);
  }
  const std::vector<int>& key = updater_.identityFields();
  for (std::size_t i = 0; i < key.size(); ++i) {
    values_ += ',';
    // A keyless table's values are kept as the bytes that they were read as.
    const bool text = !fields_.at(key[i]).binary && !keyless_;
    if (derived_) values_ += keyCasts_[i].before;
    appendHex(values_, viewOf(row[std::size_t(key[i])]), text);
    if (derived_) values_ += keyCasts_[i].after;
    name('k', i);
  }
  // A keyless table's row holds its old value among the values that find it.
  if (keyless_) {
    values_ += ',';
    appendHex(values_, afterView(afters.front()), false);
    return;
  }
  for (std::size_t slot = 0; slot < written_.size(); ++slot) {
    const bool writes = afters[slot] != nullptr;
    values_ += ',';
    appendHex(values_, writes ? viewOf(row[std::size_t(written_[slot])]) : std::nullopt, false);
    name('b', slot);
    values_ += ',';
    appendHex(values_, afterView(afters[slot]), false);
    name('a', slot);
  }
}

bool GroupedWriter::full() const {
  return qsizetype(rows_.size()) >= maxChunkRows_ || chunkBytes() >= maxChunkBytes_ / 2;
}

// What a flush carries from row to row.
struct GroupedWriter::Flush {
  WriteObserver* observer;
  const Report& report;
  std::atomic<bool>* rowOnItsOwn;
  bool inOrder;
  bool goOn = true;
  std::optional<DbError> ended;
};

void GroupedWriter::flush(WriteObserver* observer, const Report& report,
                          std::atomic<bool>* rowOnItsOwn, bool inOrder, Flushing flushing) {
  const auto emptied = qScopeGuard([this] {
    rows_.clear();
    values_.resize(0);  // its room stays, for the next chunk
    insertBytes_ = 0;
    chunkKeys_.clear();
  });
  Flush flush{observer, report, rowOnItsOwn, inOrder, true, std::nullopt};
  if (underWay_.valid()) finishUnderWay(flush);
  if (flushing == Flushing::UnderWayOnly) {
    if (flush.ended) throw *flush.ended;
    return;
  }
  writing_ = std::move(rows_);
  if (flushing == Flushing::MayLeaveUnderWay && flush.goOn && mayGoUnderWay()) {
    underWay_ = std::async(std::launch::async, [this, observer, inOrder] {
      return attemptChunk(allWriting(), observer, inOrder);
    });
    return;
  }
  std::vector<std::size_t> chunk;
  for (std::size_t i = 0; i < writing_.size(); ++i) {
    if (writing_[i].inChunk()) {
      chunk.push_back(i);
      continue;
    }
    writeInOrder(chunk, flush);
    chunk.clear();
    writeAlone(i, flush);
  }
  writeInOrder(chunk, flush);
  writing_.clear();
  if (flush.ended) throw *flush.ended;
}

// Whether the rows just taken for writing may go as one chunk while the caller queues
// the next: when they all share it, go through arrays, and the session is not reading.
bool GroupedWriter::mayGoUnderWay() const {
  return insert_ && !keyless_ && !writing_.empty() && session_.idleNow() &&
         std::all_of(writing_.begin(), writing_.end(),
                     [](const Queued& queued) { return queued.inChunk(); });
}

std::vector<std::size_t> GroupedWriter::allWriting() const {
  std::vector<std::size_t> all(writing_.size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  return all;
}

// Waits for the chunk under way and tells its rows, writing those that it left on their
// own, as a chunk written at once would have.
void GroupedWriter::finishUnderWay(Flush& flush) {
  std::future<Attempted> underWay = std::move(underWay_);
  Attempted tried;
  try {
    tried = underWay.get();
  } catch (const DbError& failure) {
    flush.ended = failure;
    flush.goOn = false;
  }
  settle(allWriting(), tried, flush);
  writing_.clear();
}

// Writes the chunk rows of `part` and tells each one's result in order: grouped where
// they stand as read, and else split around the rows at fault, which go on their own, so
// that no row after one told is written before the caller could stop.
void GroupedWriter::writeInOrder(const std::vector<std::size_t>& part, Flush& flush) {
  if (part.empty()) return;
  Attempted tried;
  if (flush.goOn) {
    try {
      tried = attemptChunk(part, flush.observer, flush.inOrder);
    } catch (const DbError& failure) {
      flush.ended = failure;
      flush.goOn = false;
    }
  }
  settle(part, tried, flush);
}

GroupedWriter::Attempted GroupedWriter::attemptChunk(const std::vector<std::size_t>& part,
                                                     WriteObserver* observer, bool inOrder) {
  Attempted tried;
  for (int attempt = 1;; ++attempt) {
    tried.atFault.clear();
    try {
      tried.attempt = writeChunk(part, observer, tried.atFault, inOrder);
    } catch (const DbError& failure) {
      // A cluster aborts a transaction that lost to another node's between its statements
      // too: the next one, whichever it is, says deadlock, and the chunk goes again.
      if (failure.errorNumber() != ER_LOCK_DEADLOCK) throw;
      tried.attempt = Attempt::Retry;
    }
    if (tried.attempt != Attempt::Retry || attempt == ChunkAttempts) return tried;
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt));
  }
}

// Tells the rows of `part` after the attempt at their chunk, and writes those it left.
void GroupedWriter::settle(const std::vector<std::size_t>& part, const Attempted& tried,
                           Flush& flush) {
  if (!flush.goOn) {
    for (std::size_t i : part) tell(i, writing_[i].result.value_or(Result::NotWritten), flush);
    return;
  }
  if (tried.attempt == Attempt::Written) {
    // Rows that the chunk left, no longer as read, are told on their own.
    for (std::size_t i : part) {
      if (writing_[i].result) {
        tell(i, *writing_[i].result, flush);
      } else {
        writeAlone(i, flush);
      }
    }
    return;
  }
  if (tried.attempt == Attempt::Mismatch) {
    std::vector<std::size_t> standing;
    for (std::size_t i : part) {
      if (!std::binary_search(tried.atFault.begin(), tried.atFault.end(), i)) {
        standing.push_back(i);
        continue;
      }
      writeInOrder(standing, flush);
      standing.clear();
      writeAlone(i, flush);
    }
    writeInOrder(standing, flush);
    return;
  }
  if (part.size() <= SmallestSplit || tried.attempt == Attempt::Retry) {
    for (std::size_t i : part) writeAlone(i, flush);
    return;
  }
  const auto middle = part.begin() + std::ptrdiff_t(part.size() / 2);
  writeInOrder({part.begin(), middle}, flush);
  writeInOrder({middle, part.end()}, flush);
}

// Each field of the row on its own, so that each is told on its own.
void GroupedWriter::writeAlone(std::size_t i, Flush& flush) {
  for (int slot = 0; slot < int(written_.size()); ++slot) {
    if (!writing_[i].writes(slot)) continue;
    Result result = Result::NotWritten;
    std::optional<DbError> why;
    if (flush.goOn) {
      try {
        result = writeOne(writing_[i], slot, flush.observer, why, flush.rowOnItsOwn);
      } catch (const DbError& failure) {
        if (failure.connectionLost()) result = Result::InDoubt;
        flush.ended = failure;
        flush.goOn = false;
      }
    }
    tellSlot(i, slot, result, why ? &*why : nullptr, flush);
  }
}

// The result of a row's chunk, told for each of its fields.
void GroupedWriter::tell(std::size_t i, Result result, Flush& flush) {
  for (int slot = 0; slot < int(written_.size()); ++slot) {
    if (writing_[i].writes(slot)) tellSlot(i, slot, result, nullptr, flush);
  }
}

void GroupedWriter::tellSlot(std::size_t i, int slot, Result result, const DbError* why,
                             Flush& flush) {
  flush.goOn = flush.report(writing_[i].tag, slot, result, why, writing_[i].packed) && flush.goOn;
}

GroupedWriter::Unpacked GroupedWriter::unpacked(const Queued& queued) const {
  return {UnpackedValues(queued.packed), updater_.identityFields().size()};
}

QByteArray GroupedWriter::chunkStatement(const std::vector<std::size_t>& part) const {
  QByteArray sql;
  sql.reserve(values_.size() + qsizetype(part.size()) * 20 + insertHead_.size() +
              updateHead_.size() + updateTail_.size() + 2 * chunkTable_.size() + 64);
  if (derived_) {
    sql += "START TRANSACTION; " + updateHead_ + '(';
  } else {
    sql += "DELETE FROM " + chunkTable_ + "; START TRANSACTION; " + insertHead_;
  }
  bool first = true;
  for (std::size_t i : part) {
    const Queued& queued = writing_[i];
    const QByteArrayView row(values_.constData() + queued.from, queued.to - queued.from);
    if (derived_) {
      sql += first ? "SELECT " : " UNION ALL SELECT ";
      sql += row;
    } else {
      sql += first ? "(" : ",(";
      sql += row;
      sql += ')';
    }
    first = false;
  }
  if (derived_) return sql + ')' + updateTail_;
  return sql + "; " + updateHead_ + chunkTable_ + updateTail_;
}

// The changes that writing the rows `written` makes, field by field, so that each field's
// values come together. Their bytes are those of the queued rows, not copies: the observer
// reads them while they are told, and the rows stay until their chunk is settled.
std::vector<RowChange> GroupedWriter::changesOf(const std::vector<std::size_t>& written) const {
  const auto bytes = [](std::optional<QByteArrayView> value) -> std::optional<QByteArray> {
    if (!value) return std::nullopt;
    return QByteArray::fromRawData(value->data(), value->size());
  };
  const std::size_t keys = updater_.identityFields().size();
  std::vector<RowChange> changes;
  changes.reserve(written.size());
  for (int slot = 0; slot < int(written_.size()); ++slot) {
    const RowChange shape = updater_.changeShape(written_[std::size_t(slot)]);
    for (std::size_t i : written) {
      if (!writing_[i].writes(slot)) continue;
      const QByteArray& packed = writing_[i].packed;
      RowChange& change = changes.emplace_back(shape);
      change.identity.reserve(keys);
      qsizetype at = 0;
      for (std::size_t k = 0; k < keys; ++k)
        change.identity.push_back(bytes(NextPackedValue(packed, at)));
      for (int skipped = 0; skipped < slot; ++skipped) {
        NextPackedValue(packed, at);
        NextPackedValue(packed, at);
      }
      change.before = bytes(NextPackedValue(packed, at));
      change.after = bytes(NextPackedValue(packed, at));
    }
  }
  return changes;
}

// A chunk's entries, told to the observer on a thread of their own while its rows travel
// to the server: they must be kept before its commit, not before its write. Told entries
// that no one settles settle as not written.
class GroupedWriter::TellingAhead {
 public:
  TellingAhead(WriteObserver* observer, const GroupedWriter& writer,
               const std::vector<std::size_t>& part)
      : observer_(observer) {
    if (!observer_) return;
    telling_ = std::async(std::launch::async, [observer, &writer, &part] {
      observer->aboutToWriteAll(writer.changesOf(part));
    });
  }
  ~TellingAhead() {
    if (!observer_ || settled_) return;
    if (telling_.valid()) {
      try {
        telling_.get();
      } catch (...) {
        // The observer keeps its failure, and refuses what comes next.
      }
    }
    observer_->settled(WriteSettled::NotWritten);
  }
  TellingAhead(const TellingAhead&) = delete;
  TellingAhead& operator=(const TellingAhead&) = delete;
  // Waits until the entries are kept; throws what the observer threw.
  void take() {
    if (telling_.valid()) std::future<void>(std::move(telling_)).get();
  }
  void settle(WriteSettled how) {
    if (observer_) observer_->settled(how);
    settled_ = true;
  }

 private:
  WriteObserver* observer_;
  std::future<void> telling_;
  bool settled_ = false;
};

// Writes the chunk's rows where they stand as read, without waiting for a lock, and,
// when it wrote every row, journals and commits them. Else it is rolled back, and
// `atFault` says which rows no longer stand as read, where the chunk table tells.
GroupedWriter::Attempt GroupedWriter::writeChunk(const std::vector<std::size_t>& part,
                                                 WriteObserver* observer,
                                                 std::vector<std::size_t>& atFault, bool inOrder) {
  if (keyless_) return writeKeylessChunk(part, observer, atFault);
  MYSQL* mysql = session_.idle();
  Transaction transaction(mysql);
  std::optional<TellingAhead> ahead;
  if (!derived_) ahead.emplace(observer, *this, part);
  QByteArray sql;
  if (insert_) {
    try {
      insertChunk(part);
    } catch (const DbError& failure) {
      return attemptAfter(failure);
    }
    // With its entries kept, the chunk commits in the round trip that writes it, when
    // it wrote every row (each changes its row and its chunk row). The rows written leave
    // the chunk table with it; the rest, rarely, before the next chunk comes in.
    ahead->take();
    sql = "START TRANSACTION; " + updateHead_ + chunkTable_ + updateTail_ +
          "; SET @klarifeld_written = ROW_COUNT(); DELETE FROM " + chunkTable_ +
          " WHERE written = 1; IF @klarifeld_written = " + QByteArray::number(2 * part.size()) +
          " THEN COMMIT; END IF";
  } else {
    sql = chunkStatement(part);
  }
  std::vector<my_ulonglong> affected;
  int status = mysql_real_query(mysql, sql.constData(), sql.size()) ? 1 : 0;
  if (status == 0) {
    do {
      affected.push_back(mysql_affected_rows(mysql));
    } while ((status = mysql_next_result(mysql)) == 0);
  }
  if (status > 0) {
    if (!mysql_errno(mysql)) return Attempt::Split;
    const DbError failure = DbError::from(mysql);
    // A link lost on the way may have been lost after the commit.
    if (insert_ && failure.connectionLost()) settleInDoubt(*ahead, part, failure);
    return attemptAfter(failure);
  }
  if (insert_ && transaction.endedByServer()) {
    chunkTableHoldsRows_ = false;
    return settleWritten(*ahead, part);
  }
  const my_ulonglong changed = insert_ ? affected[1] : affected.back();  // the UPDATE's

  // Each row written changes its row and, but in a derived table, its chunk row.
  std::vector<std::size_t> written = part;
  if (changed != (derived_ ? 1 : 2) * part.size()) {
    if (derived_) return Attempt::Split;
    atFault = rowsNotWritten(mysql, part);
    if (!atFault.empty() && inOrder) return Attempt::Mismatch;
    std::erase_if(written, [&](std::size_t i) {
      return std::binary_search(atFault.begin(), atFault.end(), i);
    });
  }
  // What was told ahead stands only when the chunk wrote every row; else the rows written
  // are told anew.
  if (written.size() == part.size() && ahead) {
    const Attempt committed = journalAndCommit(transaction, written, *ahead);
    chunkTableHoldsRows_ = committed != Attempt::Written;
    return committed;
  }
  ahead.reset();
  return journalAndCommit(transaction, written, observer);
}

// The chunk's rows into the chunk table, through arrays: its number, its key, and for each
// field whether the row writes it, its value as read and its new value.
void GroupedWriter::insertChunk(const std::vector<std::size_t>& part) {
  MYSQL* mysql = session_.idle();
  if (chunkTableHoldsRows_) {
    const QByteArray sql = "DELETE FROM " + chunkTable_;
    if (mysql_real_query(mysql, sql.constData(), sql.size())) throw DbError::from(mysql);
  }
  chunkTableHoldsRows_ = true;
  const std::size_t keys = updater_.identityFields().size();
  for (std::size_t i : part) {
    const Queued& queued = writing_[i];
    insert_->addNumber(unsigned(i));
    qsizetype at = 0;
    for (std::size_t k = 0; k < keys; ++k) insert_->addValue(NextPackedValue(queued.packed, at));
    for (int slot = 0; slot < int(written_.size()); ++slot) {
      insert_->addValue(NextPackedValue(queued.packed, at));  // as read
      insert_->addValue(NextPackedValue(queued.packed, at));  // new
    }
  }
  insert_->execute();
}

// The rows written by the chunk's open transaction go into the journal, and then it commits.
GroupedWriter::Attempt GroupedWriter::journalAndCommit(Transaction& transaction,
                                                       const std::vector<std::size_t>& written,
                                                       WriteObserver* observer) {
  TellingAhead told(observer, *this, written);
  return journalAndCommit(transaction, written, told);
}

GroupedWriter::Attempt GroupedWriter::journalAndCommit(Transaction& transaction,
                                                       const std::vector<std::size_t>& written,
                                                       TellingAhead& told) {
  // What the observer could not keep is not written: the transaction ends unwritten with
  // its scope.
  told.take();
  try {
    transaction.commit();
  } catch (const DbError& failure) {
    // A commit on its way may have taken effect.
    if (failure.connectionLost()) settleInDoubt(told, written, failure);
    return failure.errorNumber() == ER_LOCK_DEADLOCK ? Attempt::Retry : Attempt::Split;
  }
  return settleWritten(told, written);
}

GroupedWriter::Attempt GroupedWriter::settleWritten(TellingAhead& told,
                                                    const std::vector<std::size_t>& rows) {
  told.settle(WriteSettled::Written);
  for (std::size_t i : rows) writing_[i].result = Result::Written;
  return Attempt::Written;
}

// Throws `failure`, which lost the link while the rows' commit may have taken effect.
void GroupedWriter::settleInDoubt(TellingAhead& told, const std::vector<std::size_t>& rows,
                                  const DbError& failure) {
  told.settle(WriteSettled::InDoubt);
  for (std::size_t i : rows) writing_[i].result = Result::InDoubt;
  throw failure;
}

// The rows of `part` that the chunk's UPDATE did not write, as the chunk table marks them.
std::vector<std::size_t> GroupedWriter::rowsNotWritten(MYSQL* mysql,
                                                       const std::vector<std::size_t>& part) {
  const QByteArray sql = "SELECT n FROM " + chunkTable_ + " WHERE written = 0 ORDER BY n";
  if (mysql_real_query(mysql, sql.constData(), sql.size())) throw DbError::from(mysql);
  const ResultHandle result(mysql_store_result(mysql));
  if (!result) throw DbError::from(mysql);
  std::vector<std::size_t> notWritten;
  while (const MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const std::size_t n = std::size_t(QByteArray(row[0]).toULongLong());
    if (std::binary_search(part.begin(), part.end(), n)) notWritten.push_back(n);
  }
  return notWritten;
}

// After a failed statement of the chunk, whose transaction ends with the caller's scope:
// what to do next.
GroupedWriter::Attempt GroupedWriter::failedChunk(MYSQL* mysql) {
  if (!mysql_errno(mysql)) return Attempt::Split;
  return attemptAfter(DbError::from(mysql));
}

GroupedWriter::Attempt GroupedWriter::attemptAfter(const DbError& failure) {
  if (failure.connectionLost() || failure.interrupted()) throw failure;
  // A deadlock cost the chunk nothing but time; anything else is split: a locked row
  // holds up only the rows around it, a refused value only its row.
  return failure.errorNumber() == ER_LOCK_DEADLOCK ? Attempt::Retry : Attempt::Split;
}

GroupedWriter::Result GroupedWriter::writeOne(const Queued& queued, int slot,
                                              WriteObserver* observer, std::optional<DbError>& why,
                                              std::atomic<bool>* underway) {
  const Unpacked row = unpacked(queued);
  const int field = written_[std::size_t(slot)];
  if (underway) *underway = true;
  const auto done = qScopeGuard([underway] {
    if (underway) *underway = false;
  });
  try {
    const bool written = updater_.tryWrite(updater_.rowOf(row.values, field, row.before(slot)),
                                           {{field, row.after(slot)}}, observer);
    return written ? Result::Written : Result::NotFound;
  } catch (const DbError& failure) {
    if (failure.connectionLost() || failure.interrupted()) throw;
    why = failure;
    return Result::Refused;
  }
}
