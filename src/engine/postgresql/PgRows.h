#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "PgSession.h"
#include "RowSource.h"

// The rows of one reading streaming over a PostgreSQL session, one result a row. Text
// arrives as UTF-8; bytea values are turned from their hex form into their bytes.
class PgRows final : public RowSource {
 public:
  PgRows(std::shared_ptr<PgSession> session, FieldCollection fields);
  ~PgRows() override;

  bool next() override;
  qint64 count() override;
  void abandon() override;

  // Reads the rows still on the wire into memory, so that the session can carry another
  // statement while they stay readable.
  void bufferRest();
  // Lets go of the rows still on the wire, unread, when the session goes away.
  void dropRest();

 private:
  // The next result of the reading; nothing at its end. Throws its failure.
  PgResult fromWire();
  void take(PgResult row);

  std::shared_ptr<PgSession> session_;
  bool streaming_ = true;
  bool lost_ = false;
  std::deque<PgResult> ahead_;
  PgResult row_;                     // the current row's result
  std::vector<QByteArray> decoded_;  // its bytea values as bytes
  qint64 fetched_ = 0;
};
