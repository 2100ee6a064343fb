#include "ChangeRule.h"

#include "RecordSet.h"
#include "SqlText.h"

QString NewValueOf(const CleaningOperation& operation, const Answers& answers,
                   const FieldValue& stored) {
  return operation.transform(ReplaceNull(stored, QString()), answers);
}

bool ChangesRecord(const FieldValue& stored, const QString& newValue) {
  return stored && *stored != newValue;
}
