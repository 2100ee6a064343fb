#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "ByteArena.h"
#include "ClientHandles.h"
#include "MariaDbSession.h"
#include "RowSource.h"

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

// The fields of a result as the client library describes them.
FieldCollection MariaDbFields(MYSQL_RES* result);

// The rows of one result streaming over a MariaDB session.
class MariaDbRows final : public RowSource, public StreamingResult {
 public:
  MariaDbRows(std::shared_ptr<MariaDbSession> session, ResultHandle result);
  ~MariaDbRows() override;

  bool next() override;
  qint64 count() override;
  void abandon() override;

  void bufferRest() override;
  void dropRest() override;

 private:
  void keepCurrent();
  void endOfWire();

  std::shared_ptr<MariaDbSession> session_;
  ResultHandle result_;  // set while rows remain on the wire
  unsigned fieldCount_;
  RowBuffer ahead_;
  QByteArray keptCurrent_;
  qint64 fetched_ = 0;
  bool lost_ = false;
};
