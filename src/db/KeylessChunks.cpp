// The chunks of a table without a key.
#include <zlib.h>

#include <QHash>
#include <algorithm>
#include <map>

#include "GroupedWriter.h"
#include "RowUpdater.h"
#include "Session.h"
#include "Transaction.h"

namespace {
constexpr int KeylessChunkRows = 1'000'000;
// A chunk's statement, which the client holds whole: a server that takes packets of a
// gigabyte would otherwise have the client hold as much.
constexpr qint64 MaxKeylessStatementBytes = qint64{64} << 20;
}  // namespace

// A row of a table without a key is found by all its values, byte for byte, which no index
// of the table serves: the chunk table is indexed by a hash of them instead, so that one
// pass over the table finds every row of a chunk. A CRC-32 is the hash the server computes
// quickest; rows that share one are told apart by their values. Rows alike in every byte (twins)
// are one row of the chunk, with their number: they are written only when the table holds exactly
// as many of them as the chunk, or else one by one.
bool GroupedWriter::makeKeylessChunkTable(MYSQL* mysql, QString* whyNot) {
  const std::vector<int>& identity = updater_.identityFields();
  QByteArrayList columns, hashed, match;
  for (std::size_t i = 0; i < identity.size(); ++i) {
    const QByteArray copy = "k" + QByteArray::number(i);
    const QByteArray bytes = BytesAsRead(fields_.at(identity[i]), "t.");
    columns << copy + " LONGBLOB NULL";
    hashed << "IFNULL(CONCAT(LENGTH(" + bytes + "), ':', " + bytes + "), 'N')";
    match << bytes + " <=> c." + copy;
  }
  const QByteArray create = "CREATE OR REPLACE TEMPORARY TABLE " + chunkTable_ +
                            " (n INT UNSIGNED NOT NULL PRIMARY KEY, h INT UNSIGNED NOT NULL, " +
                            columns.join(", ") +
                            ", after_value LONGBLOB NULL, twins INT UNSIGNED NOT NULL, KEY (h)) "
                            "ENGINE=InnoDB";
  if (mysql_real_query(mysql, create.constData(), create.size())) {
    const DbError failure = DbError::from(mysql);
    if (failure.connectionLost()) throw failure;
    if (whyNot) {
      *whyNot = QStringLiteral(
                    "the table has no primary or unique key, and the server refused a temporary "
                    "table to find its rows by (%1)")
                    .arg(QString::fromUtf8(failure.what()));
    }
    return false;
  }
  keyless_ = true;
  // Each chunk costs two passes over the whole table: as few as a statement can carry.
  maxChunkRows_ = KeylessChunkRows;
  // A chunk's values may fill half of this, the statement around them aside.
  const std::vector<qint64> packet = serverNumbers(mysql, "SELECT @@max_allowed_packet");
  const qint64 statementBytes = std::min(packet.empty() ? 0 : packet[0], MaxKeylessStatementBytes);
  maxChunkBytes_ = 2 * (statementBytes - (qint64{2} << 20));

  QByteArray names = "n, h";
  for (std::size_t i = 0; i < identity.size(); ++i) names += ", k" + QByteArray::number(i);
  insertHead_ = "INSERT INTO " + chunkTable_ + " (" + names + ", after_value, twins) VALUES ";
  // The table is read first, each of its rows looking up its hash in the chunk's index.
  const QByteArray join = updater_.table() + " AS t STRAIGHT_JOIN " + chunkTable_ +
                          " AS c ON c.h = CRC32(CONCAT(" + hashed.join(", ") + ")) AND " +
                          match.join(" AND ");
  // Locks what it counts: the rows cannot change before the UPDATE that follows.
  countStatement_ = "SET STATEMENT innodb_lock_wait_timeout = 0 FOR SELECT c.n, COUNT(*) FROM " +
                    join + " GROUP BY c.n FOR UPDATE";
  const FieldInfo& info = fields_.at(written_.front());
  const QByteArray newValue = info.binary ? QByteArray("c.after_value")
                                          : QByteArray("CONVERT(c.after_value USING utf8mb4)");
  updateHead_ = "SET STATEMENT innodb_lock_wait_timeout = 0 FOR UPDATE " + join + " SET t." +
                QuotedIdentifier(info.column) + " = " + newValue;
  return true;
}

// The hash by which the chunk table of a keyless table finds a row: the CRC-32 of each value
// as its length and bytes, or N for a null, as the server computes it from the row.
quint32 GroupedWriter::rowHash(const std::vector<FieldBytes>& row) const {
  uLong crc = crc32(0, nullptr, 0);
  const auto add = [&crc](QByteArrayView bytes) {
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(bytes.data()), size_t(bytes.size()));
  };
  for (int field : updater_.identityFields()) {
    const FieldBytes& value = row[std::size_t(field)];
    if (value.null) {
      add("N");
      continue;
    }
    add(QByteArray::number(qulonglong(value.length)) + ':');
    add(QByteArrayView(value.data, qsizetype(value.length)));
  }
  return quint32(crc);
}

// The chunk of a keyless table: its rows, twins as one, are counted in the table, locked;
// only when each stands there exactly as many times as the chunk holds it does one UPDATE
// write them all. Else `atFault` names the rows of the twins that do not, to go one by one.
GroupedWriter::Attempt GroupedWriter::writeKeylessChunk(const std::vector<std::size_t>& part,
                                                        WriteObserver* observer,
                                                        std::vector<std::size_t>& atFault) {
  std::vector<std::vector<std::size_t>> twins;
  QHash<QByteArrayView, std::size_t> groupOf;
  for (std::size_t i : part) {
    const QByteArrayView packed(writing_[i].packed);
    auto at = groupOf.constFind(packed);
    if (at == groupOf.cend()) {
      at = groupOf.insert(packed, twins.size());
      twins.emplace_back();
    }
    twins[at.value()].push_back(i);
  }
  QByteArray rows;
  for (const std::vector<std::size_t>& alike : twins) {
    const Queued& first = writing_[alike.front()];
    rows += rows.isEmpty() ? "(" : ",(";
    rows += QByteArrayView(values_.constData() + first.from, first.to - first.from);
    rows += ',' + QByteArray::number(qulonglong(alike.size())) + ')';
  }
  MYSQL* mysql = session_.idle();
  const QByteArray sql = "DELETE FROM " + chunkTable_ + "; START TRANSACTION; " + insertHead_ +
                         rows + "; " + countStatement_;
  Transaction transaction(mysql);
  if (mysql_real_query(mysql, sql.constData(), sql.size())) return failedChunk(mysql);
  std::map<std::size_t, qulonglong> found;  // by the first row of each twins
  int status = 0;
  do {
    if (mysql_field_count(mysql) == 0) continue;
    const ResultHandle counted(mysql_store_result(mysql));
    if (!counted) return failedChunk(mysql);
    while (const MYSQL_ROW row = mysql_fetch_row(counted.get())) {
      found[std::size_t(QByteArray(row[0]).toULongLong())] = QByteArray(row[1]).toULongLong();
    }
  } while ((status = mysql_next_result(mysql)) == 0);
  if (status > 0) return failedChunk(mysql);
  for (const std::vector<std::size_t>& alike : twins) {
    const auto count = found.find(alike.front());
    if (count == found.end() || count->second != alike.size()) {
      atFault.insert(atFault.end(), alike.begin(), alike.end());
    }
  }
  if (!atFault.empty()) {
    std::sort(atFault.begin(), atFault.end());
    return Attempt::Mismatch;
  }
  if (mysql_real_query(mysql, updateHead_.constData(), updateHead_.size())) {
    return failedChunk(mysql);
  }
  // The rows counted and locked, and nothing else.
  if (mysql_affected_rows(mysql) != part.size()) return Attempt::Split;
  return journalAndCommit(transaction, part, observer);
}
