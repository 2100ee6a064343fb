#pragma once

#include <QByteArray>

#include "FieldCollection.h"

// How a write tells that a row still holds what was read: each value compared byte for
// byte, null meeting only null, whatever the column's collation says is equal.

// The expression whose bytes are a column's value as it is read: text as UTF-8, binary
// values as they are. `qualifier` ("t.") goes before the column's name.
QByteArray BytesAsRead(const FieldInfo& field, const QByteArray& qualifier = {});

// The condition that the column still holds `asRead` (a parameter "?", or a column of the
// chunk "c.b0") byte for byte.
QByteArray StandsAsRead(const FieldInfo& field, const QByteArray& qualifier,
                        const QByteArray& asRead);
