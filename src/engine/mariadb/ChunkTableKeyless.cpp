// The chunk table of a table without a key: its rows found by a hash of all their values.
#include <zlib.h>

#include <QByteArrayList>
#include <algorithm>

#include "ChunkInsert.h"
#include "ChunkTable.h"
#include "ChunkTableSizes.h"
#include "MariaDbError.h"
#include "MariaDbRowUpdater.h"
#include "MariaDbSession.h"
#include "RowCheck.h"
#include "SqlText.h"
#include "Transaction.h"

namespace {

// Each chunk of a keyless table costs two passes over the whole table: as few as a
// statement can carry.
constexpr int KeylessChunkRows = 1'000'000;
// A keyless chunk's statement, which the client holds whole: a server that takes packets of
// a gigabyte would otherwise have the client hold as much.
constexpr qint64 MaxKeylessStatementBytes = qint64{64} << 20;

}  // namespace

// A row of a table without a key is found by all its values, byte for byte, which no index
// of the table serves: the chunk table is indexed by a hash of them instead, so that one
// pass over the table finds every row of a chunk. A CRC-32 is the hash the server computes
// quickest; rows that share one are told apart by their values. Rows alike in every byte
// (twins) are one row of the chunk, with their number.
bool ChunkTable::makeKeyless(MYSQL* mysql, QString* whyNot) {
  const std::vector<int>& identity = updater_.identityFields();
  QByteArrayList hashed, match;
  for (std::size_t i = 0; i < identity.size(); ++i) {
    const QByteArray bytes = BytesAsRead(fields_.at(identity[i]), "t.");
    hashed << "IFNULL(CONCAT(LENGTH(" + bytes + "), ':', " + bytes + "), 'N')";
    match << StandsAsRead(fields_.at(identity[i]), "t.", "c.k" + QByteArray::number(i));
    keylessCapacity_.push_back(qsizetype(fields_.at(identity[i]).length));
  }
  keylessCapacity_.push_back(qsizetype(fields_.at(written_.front()).length));
  const QByteArray create = keylessCreation(false);
  if (mysql_real_query(mysql, create.constData(), create.size())) {
    const DbError failure = MariaDbError(mysql);
    if (failure.connectionLost()) throw failure;
    if (whyNot) {
      *whyNot = QStringLiteral(
                    "the table has no primary or unique key, and the server refused a temporary "
                    "table to find its rows by (%1)")
                    .arg(QString::fromUtf8(failure.what()));
    }
    return false;
  }
  form_ = Form::Keyless;
  maxRows_ = KeylessChunkRows;
  // A chunk's values may fill half of this, the statement around them aside.
  const std::vector<qint64> sizes =
      ServerNumbers(mysql, "SELECT @@max_allowed_packet, " + HeapBytes);
  if (sizes.size() != 2) throw DbError(QStringLiteral("The server did not say its sizes."));
  const qint64 statementBytes = std::min(sizes[0], MaxKeylessStatementBytes);
  keylessHeap_ = sizes[1];
  QByteArray names = "n, h";
  for (std::size_t i = 0; i < identity.size(); ++i) names += ", k" + QByteArray::number(i);
  names += ", after_value, twins";
  sql_.insertHead = "INSERT INTO " + name_ + " (" + names + ") VALUES ";
  using Column = ChunkInsert::Column;
  std::vector<Column> layout{Column::Number, Column::Number};
  layout.insert(layout.end(), identity.size() + 1, Column::Bytes);
  layout.push_back(Column::Number);
  insert_ = ChunkInsert::Prepare(mysql, name_, names, std::move(layout));
  // Listed as hex, a chunk's values take twice their size; through arrays, fewer bytes than
  // as they are queued, which hold each row's old value twice.
  maxBytes_ = 2 * (statementBytes - (qint64{2} << 20));
  // The table is read first, each of its rows looking up its hash in the chunk's index.
  const QByteArray join = updater_.table() + " AS t STRAIGHT_JOIN " + name_ +
                          " AS c ON c.h = CRC32(CONCAT(" + hashed.join(", ") + ")) AND " +
                          match.join(" AND ");
  // Locks what it counts: the rows cannot change before the UPDATE that follows.
  sql_.count =
      "SET STATEMENT innodb_lock_wait_timeout = 0 FOR SELECT c.n FROM " + join + " FOR UPDATE";
  const FieldInfo& info = fields_.at(written_.front());
  const QByteArray newValue = info.binary ? QByteArray("c.after_value")
                                          : QByteArray("CONVERT(c.after_value USING utf8mb4)");
  sql_.updateHead = "SET STATEMENT innodb_lock_wait_timeout = 0 FOR UPDATE " + join + " SET t." +
                    QuotedIdentifier(info.column) + " = " + newValue;
  return true;
}

// The hash by which the chunk table of a keyless table finds a row: the CRC-32 of each of
// its values (`values`, in the order of the row's identity) as its length and bytes, or N
// for a null, as the server computes it from the row.
quint32 ChunkTable::RowHash(std::span<const std::optional<QByteArrayView>> values) {
  uLong crc = crc32(0, nullptr, 0);
  const auto add = [&crc](QByteArrayView bytes) {
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(bytes.data()), size_t(bytes.size()));
  };
  for (const std::optional<QByteArrayView>& value : values) {
    if (!value) {
      add("N");
      continue;
    }
    add(QByteArray::number(value->size()) + ':');
    add(*value);
  }
  return quint32(crc);
}

void ChunkTable::fillKeyless(const std::vector<QueuedRow>& writing,
                             const std::vector<std::vector<std::size_t>>& twins) {
  const std::size_t keys = updater_.identityFields().size();
  std::vector<std::optional<QByteArrayView>> values(keys);
  for (const std::vector<std::size_t>& alike : twins) {
    // A row is packed as its values, then its field's old value and its new one.
    const QByteArray& packed = writing[alike.front()].packed;
    qsizetype at = 0;
    for (std::optional<QByteArrayView>& value : values) value = NextPackedValue(packed, at);
    NextPackedValue(packed, at);
    insert_->addNumber(unsigned(alike.front()));
    insert_->addNumber(RowHash(values));
    for (const std::optional<QByteArrayView>& value : values) insert_->addValue(value);
    insert_->addValue(NextPackedValue(packed, at));
    insert_->addNumber(unsigned(alike.size()));
  }
  insert_->execute();
}

QByteArray ChunkTable::keylessLeaving(const std::vector<std::size_t>& rows) const {
  QByteArray sql = "DELETE FROM " + name_ + " WHERE n IN (";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) sql += ',';
    AppendNumber(sql, qint64(rows[i]));
  }
  return sql + ')';
}

QByteArray ChunkTable::keylessOpening(bool inMemory) const {
  return keylessCreation(inMemory) + "; " + Transaction::Opening;
}

QByteArray ChunkTable::keylessCount(const QByteArray& rows, bool inMemory) const {
  return keylessOpening(inMemory) + sql_.insertHead + rows + "; " + sql_.count;
}

// The chunk table of a keyless table, made anew for each chunk: in memory, where its index of
// hashes finds a row quickest, when the chunk fits there; else on disk, where values of any
// size fit and a chunk may hold as many rows as its statement.
QByteArray ChunkTable::keylessCreation(bool inMemory) const {
  const auto type = [&](std::size_t column) {
    return inMemory ? "VARBINARY(" + QByteArray::number(keylessCapacity_[column]) + ")"
                    : QByteArray("LONGBLOB");
  };
  QByteArray columns;
  for (std::size_t i = 0; i + 1 < keylessCapacity_.size(); ++i) {
    columns += "k" + QByteArray::number(i) + ' ' + type(i) + " NULL, ";
  }
  return QByteArray(inMemory ? "SET STATEMENT max_heap_table_size = " + HeapBytes + " FOR " : "") +
         "CREATE OR REPLACE TEMPORARY TABLE " + name_ +
         " (n INT UNSIGNED NOT NULL PRIMARY KEY, h INT UNSIGNED NOT NULL, " + columns +
         "after_value " + type(keylessCapacity_.size() - 1) +
         " NULL, twins INT UNSIGNED NOT NULL, KEY (h)) ENGINE=" + (inMemory ? "MEMORY" : "InnoDB");
}

bool ChunkTable::keylessFitsInMemory(const std::vector<QueuedRow>& writing,
                                     const std::vector<std::size_t>& rows) const {
  qsizetype rowBytes = 0;
  for (qsizetype capacity : keylessCapacity_) {
    if (capacity <= 0) return false;
    rowBytes += capacity;
  }
  // Rows in memory take their full width; half the allowed size leaves room to spare.
  if (rowBytes > InMemoryRowBytes || qint64(rows.size()) * (rowBytes + 256) > keylessHeap_ / 2) {
    return false;
  }
  // A row is packed as its values, then its field's old value and its new one.
  const std::size_t values = keylessCapacity_.size() - 1;
  for (std::size_t i : rows) {
    qsizetype at = 0;
    for (std::size_t column = 0; column < values + 2; ++column) {
      const std::optional<QByteArrayView> value = NextPackedValue(writing[i].packed, at);
      const qsizetype capacity = keylessCapacity_[std::min(column, values)];
      if (column != values && value && value->size() > capacity) return false;
    }
  }
  return true;
}
