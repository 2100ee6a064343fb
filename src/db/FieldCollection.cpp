#include "FieldCollection.h"

#include "DbError.h"

namespace {
constexpr unsigned BinaryCharset = 63;

// Numbers and dates also carry the binary character set, but they travel as text.
bool isByteString(const MYSQL_FIELD& field) {
  switch (field.type) {
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_BIT:
    case MYSQL_TYPE_GEOMETRY:
      return field.charsetnr == BinaryCharset;
    default:
      return false;
  }
}
}  // namespace

FieldCollection::FieldCollection(MYSQL_RES* result) {
  const unsigned count = mysql_num_fields(result);
  const MYSQL_FIELD* fields = mysql_fetch_fields(result);
  fields_.reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    const MYSQL_FIELD& f = fields[i];
    fields_.push_back({QString::fromUtf8(f.name, f.name_length),
                       QByteArray(f.org_name, f.org_name_length),
                       QByteArray(f.org_table, f.org_table_length), QByteArray(f.db, f.db_length),
                       isByteString(f), f.type, f.length});
  }
}

const FieldInfo& FieldCollection::at(int i) const {
  if (i < 0 || i >= count()) throw DbError(DbMessages::FieldNotFound, 3265);
  return fields_[std::size_t(i)];
}

QString FieldCollection::Name(int i) const {
  return at(i).name;
}
