#pragma once

#include <QString>
#include <map>
#include <memory>
#include <optional>

#include "DbObject.h"
#include "FieldCollection.h"
#include "RowChange.h"

class Connection;
class GroupedWriter;
class RowSource;
struct FieldBytes;
class RowUpdater;
class Session;
class WriteObserver;

// A value read from or assigned to a field: null, or text.
using FieldValue = std::optional<QString>;

// The bytes that a value is written as: text as UTF-8, a binary field's code units as
// bytes. Throws DbError for a text holding half a character, or a binary value holding a
// code above 255: neither can be stored as it is.
std::optional<QByteArray> EncodedFieldValue(const FieldValue& value, bool binary);

// How writes find a row again: its key, or every column of a table without one.
struct RowIdentity {
  QByteArrayList columns;
  RowValues values;
  bool keyed = false;
};

// "ADODB.RecordSet": the rows of one statement, read forward, fetched from the server
// as they are read. Text arrives as UTF-16; numbers and dates as the server's text;
// binary columns one byte to one code unit (0-255), so raw bytes survive a round trip.
class RecordSet : public DbObject {
 public:
  static constexpr int Keyset = 1;
  static constexpr int Static = 3;
  static constexpr int ReadOnly = 1;
  static constexpr int Optimistic = 3;

  RecordSet();
  ~RecordSet() override;

  void Open(const QString& statement, Connection& connection, int cursorType = Static,
            int lockType = ReadOnly);
  // Writes, and the questions they ask of the server, go over `connection` from now on,
  // so that the rows keep streaming over their own: memory stays flat however many rows
  // are read. Until then they share the rows' connection, which must first read in every
  // row still on its way.
  // `keyColumns`, when given, are those of the table's key as just found (FieldsForWriting).
  void WriteThrough(Connection& connection, std::optional<QByteArrayList> keyColumns = {});
  // The exact number of rows: the rows not read yet are fetched into memory.
  qint32 RecordCount();
  bool Eof() const;
  const FieldCollection& Fields() const;

  FieldValue Value(int field) const;
  // Takes effect on the database with Update; moving on drops it.
  void SetValue(int field, const FieldValue& value);
  // Writes the assigned values to the current row's record at once.
  void Update();
  // A writer of `field` for many rows at once, when the table allows it; else nothing,
  // and `whyNot` says why. Valid while the record set stays open.
  std::unique_ptr<GroupedWriter> GroupedWrites(int field, QString* whyNot = nullptr);
  // As Update, but the assigned value of that field goes to `writer`, to be written with
  // others when it flushes, which tells the write observer.
  void StageUpdate(GroupedWriter& writer, qint64 tag);
  // The current row's identity, as the values now stand in the record.
  RowIdentity CurrentIdentity();
  // The columns that find a row, without values: known before the first row, and without one.
  RowIdentity IdentityColumns();
  // The identity's values packed as PackedValues packs them, in one allocation.
  QByteArray CurrentIdentityPacked();
  // The current row's value as it arrived: UTF-8 text, or a binary field's bytes. Valid
  // until the record set moves on.
  std::optional<QByteArrayView> RawValue(int field) const;
  // Told of each value that Update is about to write; nullptr for none.
  void setWriteObserver(WriteObserver* observer) { observer_ = observer; }
  WriteObserver* writeObserver() const { return observer_; }
  void CancelUpdate();
  void MoveNext();
  void Close();

  bool isOpen() const { return session_ != nullptr; }

 private:
  void requireOpen() const;
  void requireCurrentRow() const;
  void advance();
  FieldBytes standing(int field) const;
  RowUpdater& updater();
  Session& writer() const { return writeSession_ ? *writeSession_ : *session_; }

  std::shared_ptr<Session> session_;
  std::shared_ptr<Session> writeSession_;     // none: writes share session_
  std::optional<QByteArrayList> keyColumns_;  // known already: not asked again
  FieldCollection fields_;
  std::unique_ptr<RowSource> rows_;
  bool eof_ = true;
  int lockType_ = ReadOnly;
  std::map<int, FieldValue> assigned_;
  std::map<int, std::optional<QByteArray>> written_;  // what Update wrote to the current row
  std::unique_ptr<RowUpdater> updater_;
  WriteObserver* observer_ = nullptr;
};
