// The password on its way to PostgreSQL: over the network it goes only by SCRAM bound to the
// encrypted link, unless the server's certificate and host name are checked.
#include <gtest/gtest.h>

#include "../../support/QStringPrinting.h"
#include "Connection.h"
#include "LinkRefusal.h"
#include "PgTestServer.h"
#include "Session.h"

namespace {

QString loginTo(const PgServer& server, const QString& host, const QString& user,
                const QString& encryption) {
  return QStringLiteral(
             "ENGINE=PostgreSQL;SERVER=%1;PORT=%2;USER=%3;PASSWORD=%4;DATABASE=postgres;"
             "SSLMODE=%5;SSLCA=%6")
      .arg(host, server.port, user, server.password, encryption, server.caFile);
}

// What opening `login` says: the link's description, or why it was refused.
QString outcomeOf(const QString& login) {
  Connection connection;
  try {
    connection.Open(login);
    return connection.session()->linkDescription();
  } catch (const LinkRefusal& refusal) {
    return QStringLiteral("refused: ") + QString::fromUtf8(refusal.what());
  } catch (const DbError& failure) {
    return QStringLiteral("failed: ") + QString::fromUtf8(failure.what());
  }
}

}  // namespace

TEST(PgLinkSecurityTest, APasswordCrossesTheNetworkOnlyWhereNoOneCanReadIt) {
  const PgServer& tls = PgTestServer(true);
  const QString ip = QStringLiteral("127.0.0.1");
  // SCRAM bound to the link shows nothing, whether the certificate is checked or not.
  EXPECT_EQ(outcomeOf(loginTo(tls, ip, tls.user, "REQUIRED")),
            "encrypted, TLSv1.3, certificate not checked");
  EXPECT_EQ(outcomeOf(loginTo(tls, ip, tls.user, "PREFERRED")),
            "encrypted, TLSv1.3, certificate not checked");
  // The password itself goes only to a server whose certificate and name were checked.
  const QString clear = outcomeOf(loginTo(tls, ip, tls.clearUser, "REQUIRED"));
  EXPECT_TRUE(
      clear.startsWith("refused: The server asked for a login method that would let "
                       "anyone who can pose as the server read the password"))
      << clear.toStdString();
  EXPECT_TRUE(clear.contains("choose \"Verify CA and host name\" and the CA file")) << clear.toStdString();
  EXPECT_TRUE(outcomeOf(loginTo(tls, ip, tls.clearUser, "VERIFY_CA")).startsWith("refused: "));
  EXPECT_EQ(outcomeOf(loginTo(tls, ip, tls.clearUser, "VERIFY_IDENTITY")),
            "encrypted, TLSv1.3, certificate and host name checked");
  // The certificate is for 127.0.0.1: another name for the server fails the check.
  const QString named = outcomeOf(loginTo(tls, "localhost", tls.clearUser, "VERIFY_IDENTITY"));
  EXPECT_TRUE(named.startsWith("failed: ") && named.contains("does not match host name"))
      << named.toStdString();
}

TEST(PgLinkSecurityTest, TheServersSocketIsNoNetwork) {
  const PgServer& plain = PgTestServer();
  Connection connection;
  connection.Open(QStringLiteral("ENGINE=PostgreSQL;SOCKET=%1;PORT=%2;USER=%3;DATABASE=postgres")
                      .arg(plain.socketDir, plain.port, plain.user));
  EXPECT_EQ(connection.session()->linkDescription(), "not encrypted");
}
