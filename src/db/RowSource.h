#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "ByteArena.h"
#include "ClientHandles.h"
#include "Session.h"
#include "SqlText.h"

// One field of a row as the server sent it: text in UTF-8, numbers and dates as the
// server's text, binary columns as their bytes.
struct FieldBytes {
  const char* data = nullptr;
  unsigned long length = 0;
  bool null = true;
};

// A value held elsewhere, seen as field bytes: null, or its bytes.
inline FieldBytes BytesOf(const std::optional<QByteArray>& value) {
  if (!value) return {};
  return {value->constData(), static_cast<unsigned long>(value->size()), false};
}

// Rows fetched ahead of the reader, packed one after another in large blocks: per
// field a 32-bit length (or a null mark) and the bytes.
class RowBuffer {
 public:
  void append(MYSQL_ROW row, const unsigned long* lengths, unsigned fieldCount);
  bool empty() const { return next_ == rows_.size(); }
  // Points `fields` at the next row, which stays in memory as long as the buffer.
  void takeNext(std::vector<FieldBytes>& fields);

 private:
  ByteArena arena_;
  std::vector<const char*> rows_;
  std::size_t next_ = 0;
};

// The rows of one result, read forward once, as the reader asks for them.
class RowSource : public StreamingResult {
 public:
  RowSource(std::shared_ptr<Session> session, ResultHandle result);
  ~RowSource() override;

  // Moves to the next row; false when there is none.
  bool next();
  const std::vector<FieldBytes>& current() const { return current_; }
  // All rows of the result, read or not.
  qint64 count();
  // Hands the unread rest to the session, to skip only if the connection is used again.
  void abandon();

  void bufferRest() override;
  void dropRest() override;

 private:
  void keepCurrent();
  void endOfWire();

  std::shared_ptr<Session> session_;
  ResultHandle result_;  // set while rows remain on the wire
  unsigned fieldCount_;
  RowBuffer ahead_;
  std::vector<FieldBytes> current_;
  QByteArray keptCurrent_;
  qint64 fetched_ = 0;
  bool lost_ = false;
};
