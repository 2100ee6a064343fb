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

std::atomic<SettingWords> settingWords = SettingWords::Window;

bool byOptions() {
  return settingWords == SettingWords::Options;
}

bool checksCertificate(Encryption encryption) {
  return encryption == Encryption::VerifyCa || encryption == Encryption::VerifyIdentity;
}

// 'Encryption is set to "Required"', or '--ssl-mode=REQUIRED is given'.
QString encryptionIsSet(Encryption encryption) {
  return byOptions()
             ? QStringLiteral("--ssl-mode=%1 is given").arg(EncryptionName(encryption))
             : QStringLiteral("Encryption is set to \"%1\"").arg(EncryptionCaption(encryption));
}

// 'choose "Preferred"', or 'give --ssl-mode=PREFERRED'; a check of the certificate with its
// CA file.
QString chooseEncryption(Encryption encryption) {
  if (byOptions()) {
    return QStringLiteral("give --ssl-mode=%1%2")
        .arg(EncryptionName(encryption),
             checksCertificate(encryption) ? QStringLiteral(" and --ssl-ca") : QString());
  }
  return QStringLiteral("choose \"%1\"%2")
      .arg(EncryptionCaption(encryption),
           checksCertificate(encryption) ? QStringLiteral(" and the CA file") : QString());
}

// 'the check "Verify CA"', or '--ssl-mode=VERIFY_CA'.
QString encryptionCheck(Encryption encryption) {
  return byOptions() ? QStringLiteral("--ssl-mode=%1").arg(EncryptionName(encryption))
                     : QStringLiteral("the check \"%1\"").arg(EncryptionCaption(encryption));
}

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
                          .arg(encryptionIsSet(Encryption::Required)));
  }
}

LinkRefusal plainLinkRefusal(Encryption encryption) {
  return LinkRefusal(
      QStringLiteral("The server did not encrypt the connection, and %1. Ask the "
                     "server's administrator to turn on TLS, or %2.")
          .arg(encryptionIsSet(encryption), chooseEncryption(Encryption::Preferred)));
}

}  // namespace

void UseSettingWords(SettingWords words) {
  settingWords = words;
}

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
  if (checksCertificate(encryption_) && caFile_.isEmpty()) {
    throw LinkRefusal(QStringLiteral("Encryption \"%1\" checks the server's certificate against "
                                     "the certificate of the authority that signed it: choose "
                                     "that CA file.")
                          .arg(EncryptionCaption(encryption_)));
  }
}

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
              .arg(chooseEncryption(Encryption::VerifyIdentity)),
          failure.errorNumber(), failure.sqlState(), failure.cause());
    case CR_SSL_CONNECTION_ERROR:
      // The greeting, the only thing read before the refusal, offered no encryption.
      if (mysql->server_capabilities != 0 && !(mysql->server_capabilities & CLIENT_SSL)) {
        throw plainLinkRefusal(encryption_);
      }
      if (checksCertificate(encryption_)) {
        throw LinkRefusal(
            QStringLiteral("The encrypted connection with %1 could not be set up "
                           "(%2). Check that the server offers encryption, that the CA file is "
                           "the one that signed its certificate, and that the server name is "
                           "the one the certificate was issued for.")
                .arg(encryptionCheck(encryption_), reason),
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
