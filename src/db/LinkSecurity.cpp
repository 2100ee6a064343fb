#include "LinkSecurity.h"

#include <errmsg.h>

namespace {

// Challenge and response: what crosses the link cannot be turned back into the password.
constexpr const char* SafeLoginMethods = "mysql_native_password,client_ed25519";
// These send the password itself, or encrypt it with a key that the server hands out.
constexpr const char* CheckedLinkLoginMethods =
    "mysql_native_password,client_ed25519,caching_sha2_password,sha256_password,"
    "mysql_clear_password,dialog";

}  // namespace

LinkSecurity::LinkSecurity(const ConnectionAttributes& attributes) {
  if (!attributes.sslMode.isEmpty()) {
    const std::optional<Encryption> named = EncryptionNamed(attributes.sslMode);
    if (!named) {
      throw LinkRefusal(QStringLiteral("Unknown encryption setting SSLMODE=%1: use PREFERRED, "
                                       "REQUIRED, VERIFY_CA or VERIFY_IDENTITY.")
                            .arg(attributes.sslMode));
    }
    encryption_ = *named;
  }
  if (attributes.sslCa.contains(QChar(0))) {
    throw LinkRefusal(
        QStringLiteral("The CA file's name holds a character of code 0, which no "
                       "file name can hold. Choose the CA file again."));
  }
  caFile_ = attributes.sslCa.toLocal8Bit();
  const bool verifies =
      encryption_ == Encryption::VerifyCa || encryption_ == Encryption::VerifyIdentity;
  if (verifies && caFile_.isEmpty()) {
    throw LinkRefusal(QStringLiteral("Encryption \"%1\" checks the server's certificate against "
                                     "the certificate of the authority that signed it: choose "
                                     "that CA file.")
                          .arg(EncryptionCaption(encryption_)));
  }
}

// The library encrypts whenever the server offers it, and falls back to an open link
// otherwise, unless it is to check the host name; the other modes check afterwards.
void LinkSecurity::applyTo(MYSQL* mysql) const {
  const my_bool yes = 1;
  SetClientOption(mysql, MYSQL_OPT_SSL_ENFORCE, &yes);
  if (!caFile_.isEmpty()) SetClientOption(mysql, MYSQL_OPT_SSL_CA, caFile_.constData());
  const bool checksName = encryption_ == Encryption::VerifyIdentity;
  if (checksName) SetClientOption(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &yes);
  // Only a checked name keeps a stranger from posing as the server before the login. A
  // library that cannot restrict the methods is not used at all.
  SetClientOption(mysql, MARIADB_OPT_RESTRICTED_AUTH,
                  checksName ? CheckedLinkLoginMethods : SafeLoginMethods);
}

void LinkSecurity::checkConnected(MYSQL* mysql) const {
  if (encryption_ == Encryption::Preferred || mysql_get_ssl_cipher(mysql)) return;
  throw LinkRefusal(QStringLiteral("The server did not encrypt the connection, and Encryption is "
                                   "set to \"%1\". Ask the server's administrator to turn on TLS, "
                                   "or choose \"Preferred\".")
                        .arg(EncryptionCaption(encryption_)));
}

void LinkSecurity::throwFailure(MYSQL* mysql) const {
  const DbError failure = DbError::from(mysql);
  const QString reason = QString::fromUtf8(failure.what());
  switch (failure.errorNumber()) {
    case CR_PLUGIN_NOT_ALLOWED:
      // The library's text may name the method wrongly: it is left out.
      throw LinkRefusal(
          QStringLiteral("The server asked for a login method that would let anyone who can "
                         "pose as the server read the password. Klarifeld uses such a method "
                         "only when the server's certificate and host name are checked: choose "
                         "\"Verify CA and host name\" and the CA file."),
          failure.errorNumber(), failure.sqlState());
    case CR_SSL_CONNECTION_ERROR:
      if (encryption_ == Encryption::VerifyCa || encryption_ == Encryption::VerifyIdentity) {
        throw LinkRefusal(
            QStringLiteral("The encrypted connection with the check \"%1\" could not be set up "
                           "(%2). Check that the server offers encryption, that the CA file is "
                           "the one that signed its certificate, and that the server name is "
                           "the one the certificate was issued for.")
                .arg(EncryptionCaption(encryption_), reason),
            failure.errorNumber(), failure.sqlState());
      }
      throw LinkRefusal(
          QStringLiteral("The encrypted connection could not be set up (%1).").arg(reason),
          failure.errorNumber(), failure.sqlState());
    default:
      throw failure;
  }
}

QString LinkSecurity::describe(MYSQL* mysql, Encryption encryption) {
  const char* version = nullptr;
  if (!mysql_get_ssl_cipher(mysql) ||
      mariadb_get_infov(mysql, MARIADB_CONNECTION_TLS_VERSION, &version) || !version) {
    return QStringLiteral("not encrypted");
  }
  // An unchecked certificate keeps out listeners, not a stranger posing as the server.
  const QString checked = encryption == Encryption::VerifyIdentity
                              ? QStringLiteral("certificate and host name checked")
                          : encryption == Encryption::VerifyCa
                              ? QStringLiteral("certificate checked, host name not checked")
                              : QStringLiteral("certificate not checked");
  return QStringLiteral("encrypted, ") + QString::fromLatin1(version) + QStringLiteral(", ") +
         checked;
}
