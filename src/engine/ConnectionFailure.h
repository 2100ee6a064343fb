#pragma once

#include <QString>
#include <QStringList>

#include "DbError.h"

// Why a connection could not be made, in words a user can act on: the server's or the
// client library's own reason, then a short hint for the failures that users meet most.
QString ConnectionFailureText(const DbError& failure);

// The databases that the login of `connectionString` may see, asked without naming one, so
// that a mistyped name does not stand in the way; the server's own schemas left out.
// Throws DbError.
QStringList DatabasesOn(const QString& connectionString);
