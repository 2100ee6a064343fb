#include "FieldCollection.h"

#include "DbError.h"

const FieldInfo& FieldCollection::at(int i) const {
  if (i < 0 || i >= count()) throw DbError(DbMessages::FieldNotFound, 3265);
  return fields_[std::size_t(i)];
}

QString FieldCollection::Name(int i) const {
  return at(i).name;
}
