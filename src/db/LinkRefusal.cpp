#include "LinkRefusal.h"

#include <atomic>

namespace {

std::atomic<SettingWords> settingWords = SettingWords::Window;

bool byOptions() {
  return settingWords == SettingWords::Options;
}

}  // namespace

void UseSettingWords(SettingWords words) {
  settingWords = words;
}

Encryption EncryptionSetting(const ConnectionAttributes& attributes) {
  Encryption encryption = Encryption::Preferred;
  if (!attributes.sslMode.isEmpty()) {
    const std::optional<Encryption> named = EncryptionNamed(attributes.sslMode);
    if (!named) {
      throw LinkRefusal(QStringLiteral("Unknown encryption setting SSLMODE=%1: use PREFERRED, "
                                       "REQUIRED, VERIFY_CA or VERIFY_IDENTITY.")
                            .arg(attributes.sslMode));
    }
    encryption = *named;
  }
  if (attributes.sslCa.contains(QChar(0))) {
    throw LinkRefusal(
        QStringLiteral("The CA file's name holds a character of code 0, which no "
                       "file name can hold. Choose the CA file again."));
  }
  if (ChecksCertificate(encryption) && attributes.sslCa.isEmpty()) {
    throw LinkRefusal(QStringLiteral("Encryption \"%1\" checks the server's certificate against "
                                     "the certificate of the authority that signed it: choose "
                                     "that CA file.")
                          .arg(EncryptionCaption(encryption)));
  }
  return encryption;
}

bool ChecksCertificate(Encryption encryption) {
  return encryption == Encryption::VerifyCa || encryption == Encryption::VerifyIdentity;
}

QString EncryptionIsSet(Encryption encryption) {
  return byOptions()
             ? QStringLiteral("--ssl-mode=%1 is given").arg(EncryptionName(encryption))
             : QStringLiteral("Encryption is set to \"%1\"").arg(EncryptionCaption(encryption));
}

QString ChooseEncryption(Encryption encryption) {
  if (byOptions()) {
    return QStringLiteral("give --ssl-mode=%1%2")
        .arg(EncryptionName(encryption),
             ChecksCertificate(encryption) ? QStringLiteral(" and --ssl-ca") : QString());
  }
  return QStringLiteral("choose \"%1\"%2")
      .arg(EncryptionCaption(encryption),
           ChecksCertificate(encryption) ? QStringLiteral(" and the CA file") : QString());
}

QString EncryptionCheck(Encryption encryption) {
  return byOptions() ? QStringLiteral("--ssl-mode=%1").arg(EncryptionName(encryption))
                     : QStringLiteral("the check \"%1\"").arg(EncryptionCaption(encryption));
}

QString LinkDescription(const char* tlsVersion, Encryption encryption) {
  if (!tlsVersion) return QStringLiteral("not encrypted");
  // An unchecked certificate keeps out listeners, not a stranger posing as the server.
  const QString checked = encryption == Encryption::VerifyIdentity
                              ? QStringLiteral("certificate and host name checked")
                          : encryption == Encryption::VerifyCa
                              ? QStringLiteral("certificate checked, host name not checked")
                              : QStringLiteral("certificate not checked");
  return QStringLiteral("encrypted, ") + QString::fromLatin1(tlsVersion) + QStringLiteral(", ") +
         checked;
}
