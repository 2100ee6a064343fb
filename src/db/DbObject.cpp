#include "DbObject.h"

#include "Connection.h"
#include "RecordSet.h"

std::unique_ptr<DbObject> CreateObject(QStringView className) {
  if (className.compare(u"ADODB.Connection", Qt::CaseInsensitive) == 0) {
    return std::make_unique<Connection>();
  }
  if (className.compare(u"ADODB.RecordSet", Qt::CaseInsensitive) == 0) {
    return std::make_unique<RecordSet>();
  }
  throw DbError(QStringLiteral("ActiveX component can't create object"), 429);
}
