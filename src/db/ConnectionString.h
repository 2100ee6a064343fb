#pragma once

#include <QString>
#include <optional>

// How the link to the server is protected.
enum class Encryption {
  Preferred,       // encrypted whenever the server offers it
  Required,        // encrypted, or no connection
  VerifyCa,        // encrypted, by a certificate that the CA file vouches for
  VerifyIdentity,  // and issued for the server's name
};

// The SSLMODE names of the connection string: "PREFERRED", "REQUIRED", "VERIFY_CA",
// "VERIFY_IDENTITY"; read in any case.
QString EncryptionName(Encryption encryption);
// As the login window offers them: "Preferred", "Required", "Verify CA", "Verify CA and
// host name".
QString EncryptionCaption(Encryption encryption);
std::optional<Encryption> EncryptionNamed(const QString& name);

// The one connection string of the program, built from the login window's five values,
// and the encryption when it is not the default. A value holding ";" or starting with "{"
// is written in braces; others go in unchanged.
QString BuildConnectionString(const QString& server, const QString& user, const QString& password,
                              const QString& database, const QString& port,
                              Encryption encryption = Encryption::Preferred,
                              const QString& caFile = QString(), const QString& socket = QString(),
                              const QString& engine = QString());

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
  QString sslMode;  // empty: "PREFERRED"
  QString sslCa;
  QString socket;  // the local server's socket file (PostgreSQL: its folder); empty: the default
  QString engine;  // "PostgreSQL"; empty: MariaDB or MySQL
};

// Whether the attributes name PostgreSQL's engine rather than MariaDB's or MySQL's.
bool IsPostgreSql(const ConnectionAttributes& attributes);

ConnectionAttributes ParseConnectionString(const QString& connectionString);

// Why `server` cannot name a server, in the user's words; empty when it is a host name,
// an IPv4 or IPv6 address, "localhost" or empty (the local server). The client library
// would read anything else as a list of its own options.
QString ServerNameProblem(const QString& server);

inline const QString SupportedDriver = QStringLiteral("MySQL ODBC 5.1 Driver");
