#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// What the record layer knows of one field of a result.
struct FieldInfo {
  QString name;              // as the result names it
  QByteArray column;         // the column of the base table it comes from, if any
  QByteArray table;          // that base table
  QByteArray database;       // and its database
  bool binary = false;       // bytes, not text: read and written one byte to one code unit
  int type = 0;              // the engine's own code for the field's type
  unsigned long length = 0;  // the longest value, in bytes as the result carries it
};

// The fields of a record set, in the order of the result.
class FieldCollection {
 public:
  FieldCollection() = default;
  explicit FieldCollection(std::vector<FieldInfo> fields) : fields_(std::move(fields)) {}

  int count() const { return int(fields_.size()); }
  QString Name(int i) const;
  const FieldInfo& at(int i) const;

 private:
  std::vector<FieldInfo> fields_;
};
