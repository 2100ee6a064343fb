#include "LinkSecurity.h"

#include "MariaDbError.h"

#include <errmsg.h>
#include <mysql/client_plugin.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* EncryptFirstMethod = "klarifeld_encrypt_first";

// Challenge and response: what crosses the link cannot be turned back into the password.
constexpr const char* SafeLoginMethods = "mysql_native_password,client_ed25519";
// These send the password itself, or encrypt it with a key that the server hands out.
constexpr const char* CheckedLinkLoginMethods =
    "mysql_native_password,client_ed25519,caching_sha2_password,sha256_password,"
    "mysql_clear_password,dialog";

bool needsEncryption(Encryption encryption) {
  return encryption != Encryption::Preferred;
}

// The first login method that the library runs, before the user name goes out. The library
// would log in over an open link when the server offers no TLS; this method then sends
// nothing at all. Otherwise it answers with nothing, which makes the server name its own
// method, and the library runs that one over the link it has encrypted by then.
int encryptFirst(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql) {
  if (!(mysql->server_capabilities & CLIENT_SSL)) {
    mysql->net.last_errno = CR_SSL_CONNECTION_ERROR;
    std::strcpy(mysql->net.sqlstate, "HY000");
    std::strcpy(mysql->net.last_error, "the server offers no encryption");
    return CR_ERROR;
  }
  return vio->write_packet(vio, nullptr, 0) ? CR_ERROR : CR_OK;
}

st_mysql_client_plugin_AUTHENTICATION EncryptFirstPlugin = {
    MYSQL_CLIENT_AUTHENTICATION_PLUGIN,
    MYSQL_CLIENT_AUTHENTICATION_PLUGIN_INTERFACE_VERSION,
    EncryptFirstMethod,
    "Klarifeld",
    "Sends nothing until the link is encrypted",
    {1, 0, 0},
    "GPL",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    encryptFirst};

void registerEncryptFirst(MYSQL* mysql) {
  static std::once_flag once;
  static bool registered = false;
  std::call_once(once, [mysql] {
    registered =
        mysql_client_register_plugin(
            mysql, reinterpret_cast<st_mysql_client_plugin*>(&EncryptFirstPlugin)) != nullptr;
  });
  if (!registered) {
    throw LinkRefusal(QStringLiteral("The client library does not let Klarifeld keep the login "
                                     "from leaving before the link is encrypted, so it does not "
                                     "connect while %1.")
                          .arg(EncryptionIsSet(Encryption::Required)));
  }
}

LinkRefusal plainLinkRefusal(Encryption encryption) {
  return LinkRefusal(
      QStringLiteral("The server did not encrypt the connection, and %1. Ask the "
                     "server's administrator to turn on TLS, or %2.")
          .arg(EncryptionIsSet(encryption), ChooseEncryption(Encryption::Preferred)));
}

}  // namespace

LinkSecurity::LinkSecurity(const ConnectionAttributes& attributes)
    : encryption_(EncryptionSetting(attributes)), caFile_(attributes.sslCa.toLocal8Bit()) {}

// The library encrypts whenever the server offers it, and falls back to an open link
// otherwise, unless it is to check the host name; the other modes log in through the
// method that sends nothing over an open link.
void LinkSecurity::applyTo(MYSQL* mysql) const {
  const my_bool yes = 1;
  SetClientOption(mysql, MYSQL_OPT_SSL_ENFORCE, &yes);
  if (!caFile_.isEmpty()) SetClientOption(mysql, MYSQL_OPT_SSL_CA, caFile_.constData());
  const bool checksName = encryption_ == Encryption::VerifyIdentity;
  if (checksName) SetClientOption(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &yes);
  QByteArray methods = checksName ? CheckedLinkLoginMethods : SafeLoginMethods;
  if (needsEncryption(encryption_) && !checksName) {
    registerEncryptFirst(mysql);
    SetClientOption(mysql, MYSQL_DEFAULT_AUTH, EncryptFirstMethod);
    methods = methods + ',' + EncryptFirstMethod;
  }
  // Only a checked name keeps a stranger from posing as the server before the login. A
  // library that cannot restrict the methods is not used at all.
  SetClientOption(mysql, MARIADB_OPT_RESTRICTED_AUTH, methods.constData());
}

void LinkSecurity::checkConnected(MYSQL* mysql) const {
  if (!needsEncryption(encryption_) || mysql_get_ssl_cipher(mysql)) return;
  throw plainLinkRefusal(encryption_);
}

void LinkSecurity::throwFailure(MYSQL* mysql) const {
  const DbError failure = MariaDbError(mysql);
  const QString reason = QString::fromUtf8(failure.what());
  switch (failure.errorNumber()) {
    case CR_PLUGIN_NOT_ALLOWED:
      // The library's text may name the method wrongly: it is left out.
      throw LinkRefusal(
          QStringLiteral("The server asked for a login method that would let anyone who can "
                         "pose as the server read the password. Klarifeld uses such a method "
                         "only when the server's certificate and host name are checked: %1.")
              .arg(ChooseEncryption(Encryption::VerifyIdentity)),
          failure.errorNumber(), failure.sqlState(), failure.cause());
    case CR_SSL_CONNECTION_ERROR:
      // The greeting, the only thing read before the refusal, offered no encryption.
      if (mysql->server_capabilities != 0 && !(mysql->server_capabilities & CLIENT_SSL)) {
        throw plainLinkRefusal(encryption_);
      }
      if (ChecksCertificate(encryption_)) {
        throw LinkRefusal(
            QStringLiteral("The encrypted connection with %1 could not be set up "
                           "(%2). Check that the server offers encryption, that the CA file is "
                           "the one that signed its certificate, and that the server name is "
                           "the one the certificate was issued for.")
                .arg(EncryptionCheck(encryption_), reason),
            failure.errorNumber(), failure.sqlState(), failure.cause());
      }
      throw LinkRefusal(
          QStringLiteral("The encrypted connection could not be set up (%1).").arg(reason),
          failure.errorNumber(), failure.sqlState(), failure.cause());
    default:
      throw failure;
  }
}

QString LinkSecurity::describe(MYSQL* mysql, Encryption encryption) {
  const char* version = nullptr;
  if (!mysql_get_ssl_cipher(mysql) ||
      mariadb_get_infov(mysql, MARIADB_CONNECTION_TLS_VERSION, &version)) {
    version = nullptr;
  }
  return LinkDescription(version, encryption);
}
