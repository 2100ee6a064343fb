#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "ChunkRows.h"
#include "ClientHandles.h"
#include "DbError.h"
#include "FieldCollection.h"
#include "RowSource.h"

class ChunkInsert;
class MariaDbRowUpdater;
class MariaDbSession;

// The temporary table on the session that carries a chunk's rows to the server, and the
// statements around it. Each row carries its key (in the key's own types, so that the join
// uses the key's equality and index) and, for each field, its value as read and its new
// value, as bytes. Without a privilege for a temporary table the rows travel inside the
// UPDATE as a derived table instead. A table without a key has its rows found by a hash of
// all their values. A chunk's statements travel as one text; values in it are all hex
// literals, or travel as arrays of bytes (ChunkInsert).
class ChunkTable {
 public:
  // A row's new values, by slot; null: the field is kept.
  using SlotValues = std::vector<const std::optional<QByteArray>*>;

  // Nothing, and `whyNot` says why for the user, when the server refuses a chunk table and
  // a derived table cannot carry the key's types (or the table has no key).
  static std::unique_ptr<ChunkTable> Make(MariaDbSession& session, const FieldCollection& fields,
                                          const MariaDbRowUpdater& updater,
                                          std::vector<int> written, QString* whyNot);
  ~ChunkTable();

  bool keyless() const { return form_ == Form::Keyless; }
  bool derived() const { return form_ == Form::Derived; }
  // Where the server takes arrays of rows, the chunk table is filled through them, from the
  // rows' packed values; else the rows are listed in the statement.
  bool throughArrays() const { return insert_ != nullptr; }
  int maxRows() const { return maxRows_; }
  qsizetype maxBytes() const { return maxBytes_; }

  // Whether the row can go in a chunk: each new value, and the value it replaces, fits the
  // table's columns, and, of several fields, none writes a null over a null, which the
  // chunk would take for a field kept.
  bool fits(const std::vector<FieldBytes>& row, const SlotValues& afters) const;
  // Appends the row as a statement lists it, without its brackets: a row of the INSERT into
  // the chunk table, or a row of the derived table, its columns named.
  void appendRow(QByteArray& listed, qsizetype n, const std::vector<FieldBytes>& row,
                 const SlotValues& afters) const;

  // The statement that writes the listed `rows` in a transaction of its own that it begins:
  // through the chunk table, emptied first, or as a derived table.
  QByteArray listedStatement(const std::vector<QByteArrayView>& rows) const;
  // Fills the chunk table with the rows of `part`, through arrays. Throws DbError.
  void fill(const std::vector<QueuedRow>& writing, const std::vector<std::size_t>& part);
  // The UPDATE of the rows that fill() put in the chunk table, after which those it wrote
  // leave the table; `committed` follows when the server should commit with it.
  QByteArray fillingUpdate(const QByteArray& committed) const;
  // Whether the chunk table may still hold rows of a chunk: they leave it before the next.
  void leftRows(bool left) { holdsRows_ = left; }
  // The rows of `part` that the last UPDATE did not write, as the chunk table marks them.
  std::vector<std::size_t> rowsNotWritten(const std::vector<std::size_t>& part) const;

  // Of rows that a chunk left, filled in the chunk table anew: the statement that reads, and
  // locks, how each row stands, each field's state in the row's order of slots (0: kept,
  // 1: stands as read, 2: holds its new value, 3: holds another), its row gone where it
  // reads none; and the UPDATE that then writes each field that stands as read.
  const QByteArray& fieldStates() const { return sql_.fieldStates; }
  const QByteArray& fieldUpdate() const { return sql_.fieldUpdate; }

  // Of a table without a key: the statement that lists the rows (twins as one, with their
  // number) in the chunk table made anew, and reads, locked, the number of the chunk's row
  // that each row of the table matches: how often each stands there; and the UPDATE that
  // then writes them. `inMemory` makes the chunk table in memory, where a row is found
  // quickest: when keylessFitsInMemory says the rows fit there.
  QByteArray keylessCount(const QByteArray& rows, bool inMemory) const;
  // Through arrays: the statements that make the chunk table anew and open the transaction;
  // then fillKeyless() lists the rows, one of each `twins` with their number (throws
  // DbError), and keylessLockedCount() counts them.
  QByteArray keylessOpening(bool inMemory) const;
  void fillKeyless(const std::vector<QueuedRow>& writing,
                   const std::vector<std::vector<std::size_t>>& twins);
  const QByteArray& keylessLockedCount() const { return sql_.count; }
  bool keylessFitsInMemory(const std::vector<QueuedRow>& writing,
                           const std::vector<std::size_t>& rows) const;
  const QByteArray& keylessUpdate() const { return sql_.updateHead; }
  // The statement that takes the rows numbered `rows` out of the chunk table.
  QByteArray keylessLeaving(const std::vector<std::size_t>& rows) const;

  // The numbers of the last row that the statements read; zeros where a value is null. A
  // statement that fails ends them: it is thrown, or, given `failure`, kept there unless
  // the link broke.
  static std::vector<qint64> ServerNumbers(MYSQL* mysql, const QByteArray& sql,
                                           std::optional<DbError>* failure = nullptr);

 private:
  ChunkTable(MariaDbSession& session, const FieldCollection& fields,
             const MariaDbRowUpdater& updater, std::vector<int> written);
  bool make(QString* whyNot);
  bool create(MYSQL* mysql, QString* whyNot);
  QByteArray creation(const std::vector<qsizetype>& valueBytes) const;
  bool makeKeyless(MYSQL* mysql, QString* whyNot);
  QByteArray keylessCreation(bool inMemory) const;
  bool castKeys(MYSQL* mysql);
  QByteArray updateTail(const QByteArray& join) const;
  void makeFieldByField(const QByteArray& join);
  struct SlotSql {
    QByteArray column, newValue;
    QByteArray keeps;     // the row keeps the field: it has no values of it in the chunk
    QByteArray stands;    // the field holds its value as read
    QByteArray holdsNew;  // the field holds its new value
  };
  SlotSql slotSql(std::size_t slot) const;
  static quint32 RowHash(std::span<const std::optional<QByteArrayView>> values);

  MariaDbSession& session_;
  const FieldCollection& fields_;
  const MariaDbRowUpdater& updater_;
  std::vector<int> written_;  // the fields written, by slot
  QByteArray name_;
  // Rows in a temporary table; in a derived table inside the UPDATE; found by their hash.
  enum class Form { Table, Derived, Keyless };
  Form form_ = Form::Table;
  struct Statements {
    QByteArray insertHead;
    QByteArray updateHead, updateTail;    // the UPDATE around its chunk
    QByteArray count;                     // of a keyless table: how often each row stands in it
    QByteArray fieldStates, fieldUpdate;  // of rows a chunk left
  };
  Statements sql_;
  struct Cast {
    QByteArray before, after;
  };
  std::vector<Cast> keyCasts_;            // of a derived table: its key values to the key's types
  std::vector<qsizetype> valueCapacity_;  // bytes a value of each slot may have; none: no limit
  // Of a table without a key: the bytes each of its values may have, then its field's new
  // value, as the table's columns say (0: no limit); and the size a table in memory may take.
  std::vector<qsizetype> keylessCapacity_;
  qint64 keylessHeap_ = 0;
  qsizetype maxBytes_ = 0;
  int maxRows_ = 0;
  std::unique_ptr<ChunkInsert> insert_;
  bool holdsRows_ = false;  // left by a chunk that did not write them all
};
