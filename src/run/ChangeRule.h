#pragma once

#include <QString>

#include "OperationCatalogue.h"
#include "RecordSet.h"

// What an operation makes of a stored value: the one place that decides what a run
// writes and what a preview shows.

// The new value; throws what the run reports when it cannot be computed. A null is taken
// as the empty text.
QString NewValueOf(const CleaningOperation& operation, const Answers& answers,
                   const FieldValue& stored);
// Whether the record is written: a null never is, nor a value the operation leaves as it was.
bool ChangesRecord(const FieldValue& stored, const QString& newValue);
