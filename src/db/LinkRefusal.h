#pragma once

#include <QString>

#include "ConnectionString.h"
#include "DbError.h"

// A connection refused to keep the password or the link safe; its text says why and
// what the user can do.
class LinkRefusal : public DbError {
 public:
  using DbError::DbError;
};

// How refusals name the encryption settings: as the login window shows them, or as
// klarifeld-clean's options are given. The window's words unless told; each engine's
// link security words its refusals so.
enum class SettingWords { Window, Options };
void UseSettingWords(SettingWords words);

// The encryption that `attributes` ask for; throws LinkRefusal for an unknown setting, or
// a check of the certificate without a CA file (or with a name no file can have).
Encryption EncryptionSetting(const ConnectionAttributes& attributes);
bool ChecksCertificate(Encryption encryption);

// 'Encryption is set to "Required"', or '--ssl-mode=REQUIRED is given'.
QString EncryptionIsSet(Encryption encryption);
// 'choose "Preferred"', or 'give --ssl-mode=PREFERRED'; a check of the certificate with its
// CA file.
QString ChooseEncryption(Encryption encryption);
// 'the check "Verify CA"', or '--ssl-mode=VERIFY_CA'.
QString EncryptionCheck(Encryption encryption);

// "encrypted, TLSv1.3, certificate not checked" or "not encrypted" (no `tlsVersion`): what
// `encryption` checked, as well as whether the link is encrypted.
QString LinkDescription(const char* tlsVersion, Encryption encryption);
