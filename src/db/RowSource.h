#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <vector>

#include "FieldCollection.h"

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

// The rows of one result, read forward once, as the reader asks for them; an engine's
// session makes them (Session::execute).
class RowSource {
 public:
  virtual ~RowSource() = default;

  const FieldCollection& fields() const { return fields_; }
  // Moves to the next row; false when there is none. Throws DbError when the result
  // ends in a failure, which never passes for its end.
  virtual bool next() = 0;
  // The row moved to, valid until the next move.
  const std::vector<FieldBytes>& current() const { return current_; }
  // All rows of the result, read or not.
  virtual qint64 count() = 0;
  // Lets go of the rows not read yet: they are skipped only if the session is used again.
  virtual void abandon() = 0;

 protected:
  explicit RowSource(FieldCollection fields)
      : fields_(std::move(fields)), current_(std::size_t(fields_.count())) {}

  FieldCollection fields_;
  std::vector<FieldBytes> current_;
};
