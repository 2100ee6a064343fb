#pragma once

#include <QString>

#include "ClientHandles.h"
#include "ConnectionString.h"
#include "LinkRefusal.h"

// Protects the link of a session about to connect. The password never travels where
// another can read it: the login methods that would reveal it are allowed only once the
// server's certificate and host name are checked.
class LinkSecurity {
 public:
  // Throws LinkRefusal for an unknown mode or a check without a CA file.
  explicit LinkSecurity(const ConnectionAttributes& attributes);

  void applyTo(MYSQL* mysql) const;
  // After the connection is made: throws LinkRefusal when it is not encrypted as required.
  void checkConnected(MYSQL* mysql) const;
  // The failure of a connection attempt, in words that say what to do when it was the
  // link's protection that refused.
  [[noreturn]] void throwFailure(MYSQL* mysql) const;

  // "encrypted, TLSv1.3, certificate not checked" or "not encrypted": what `encryption`
  // checked, as well as whether the link is encrypted.
  static QString describe(MYSQL* mysql, Encryption encryption);
  Encryption encryption() const { return encryption_; }

 private:
  Encryption encryption_ = Encryption::Preferred;
  QByteArray caFile_;
};
