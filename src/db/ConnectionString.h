#pragma once

#include <QString>
#include <optional>

// The one connection string of the program, built from the login window's five values.
// A value holding ";" or starting with "{" is written in braces; others go in unchanged.
QString BuildConnectionString(const QString& server, const QString& user, const QString& password,
                              const QString& database, const QString& port);

// The attributes that the record layer reads from a connection string in ODBC syntax:
// "KEY=value;" pairs, keys in any case, a value in braces may hold ";". When a key
// appears twice, the first occurrence counts; attributes not listed here are ignored.
struct ConnectionAttributes {
  QString driver;
  QString server;
  QString user;
  QString password;
  QString database;
  QString port;
};

ConnectionAttributes ParseConnectionString(const QString& connectionString);

inline const QString SupportedDriver = QStringLiteral("MySQL ODBC 5.1 Driver");
