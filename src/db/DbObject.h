#pragma once

#include <QString>
#include <QStringView>
#include <memory>

#include "DbError.h"

// An object of the record layer, made by its class name.
class DbObject {
 public:
  virtual ~DbObject() = default;
};

// Makes "ADODB.Connection" or "ADODB.RecordSet" (in any case); another name fails.
std::unique_ptr<DbObject> CreateObject(QStringView className);

// CreateObject, as the type that the caller expects of that class name.
template <class T>
std::unique_ptr<T> CreateObjectAs(QStringView className) {
  std::unique_ptr<DbObject> object = CreateObject(className);
  if (!dynamic_cast<T*>(object.get())) throw DbError(QStringLiteral("Type mismatch"), 13);
  return std::unique_ptr<T>(static_cast<T*>(object.release()));
}

// The object behind a variable that may never have been made, because its creation failed.
template <class T>
T& Required(const std::unique_ptr<T>& object) {
  if (!object) throw DbError(QStringLiteral("Object variable or With block variable not set"), 91);
  return *object;
}
