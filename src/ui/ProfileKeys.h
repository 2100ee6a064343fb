#pragma once

#include <QString>

// The settings keys of the login window's connection profile, as stored files know them.
namespace ProfileKeys {
inline const QString Server = QStringLiteral("MyServer");
inline const QString User = QStringLiteral("MyUser");
inline const QString Password = QStringLiteral("MyPassword");
inline const QString Database = QStringLiteral("MyDatabase");
inline const QString Port = QStringLiteral("MyPort");
inline const QString Encryption = QStringLiteral("MyEncryption");  // a connection-string name
inline const QString CaFile = QStringLiteral("MyCAFile");
inline const QString Engine = QStringLiteral("MyEngine");  // "PostgreSQL"; empty: MariaDB, MySQL
}  // namespace ProfileKeys
