// The link to the server: encrypted when it can be, checked when asked, and the password
// never handed to a stranger.

#include "LinkSecurity.h"

#include <gtest/gtest.h>

#include "../support/QStringPrinting.h"
#include "Connection.h"
#include "../../db/FakeServer.h"
#include "RecordSet.h"
#include "TestServer.h"

namespace {

const QString EncryptedDir = qEnvironmentVariable("KLARIFELD_TEST_DB_DIR") + "-encrypted";
const QString PlainLinkRefusal =
    "refused: The server did not encrypt the connection, and Encryption is set to \"%1\". Ask "
    "the server's administrator to turn on TLS, or choose \"Preferred\".";

// Opens a connection and says how its link is protected, or why it was refused.
QString linkOf(const TestServer& server, Encryption encryption, const QString& caFile = {},
               const QString& password = {}) {
  Connection connection;
  try {
    connection.Open(BuildConnectionString(server.host, server.user,
                                          password.isEmpty() ? server.password : password, "",
                                          server.port, encryption, caFile));
    return connection.linkDescription();
  } catch (const LinkRefusal& refusal) {
    return QStringLiteral("refused: ") + refusal.what();
  } catch (const DbError& failure) {
    return QStringLiteral("failed: ") + failure.what();
  }
}

class LinkSecurityTest : public testing::Test {
 protected:
  const TestServer encrypted = TestServer::in(EncryptedDir + "/server");
  const TestServer& plain = TestServer::get();
  const QString authority = EncryptedDir + "/certs/ca.pem";
  const QString otherAuthority = EncryptedDir + "/certs/other-ca.pem";
};

}  // namespace

TEST_F(LinkSecurityTest, AServerThatRequiresEncryptionIsReachedEncrypted) {
  // It says what was checked, too: an unchecked certificate keeps out only listeners.
  for (Encryption encryption : {Encryption::Preferred, Encryption::Required}) {
    const QString link = linkOf(encrypted, encryption);
    EXPECT_TRUE(link.startsWith("encrypted, TLSv1.") && link.endsWith(", certificate not checked"))
        << link.toStdString();
  }
  const QString checked = linkOf(encrypted, Encryption::VerifyCa, authority);
  EXPECT_TRUE(checked.startsWith("encrypted, TLSv1.") &&
              checked.endsWith(", certificate checked, host name not checked"))
      << checked.toStdString();
}

TEST_F(LinkSecurityTest, ACertificateIsCheckedAgainstTheChosenAuthorityAndName) {
  EXPECT_TRUE(linkOf(encrypted, Encryption::VerifyCa, otherAuthority)
                  .startsWith("refused: The encrypted connection with the check \"Verify CA\" "
                              "could not be set up (TLS/SSL error: "))
      << linkOf(encrypted, Encryption::VerifyCa, otherAuthority).toStdString();
  // The certificate names db.example, not the address connected to.
  EXPECT_TRUE(linkOf(encrypted, Encryption::VerifyIdentity, authority)
                  .startsWith("refused: The encrypted connection with the check \"Verify CA and "
                              "host name\" could not be set up"))
      << linkOf(encrypted, Encryption::VerifyIdentity, authority).toStdString();
  EXPECT_EQ(linkOf(encrypted, Encryption::VerifyCa),
            "refused: Encryption \"Verify CA\" checks the server's certificate against the "
            "certificate of the authority that signed it: choose that CA file.");
}

TEST_F(LinkSecurityTest, AServerWithoutEncryptionIsReachedOnlyWhenThatIsAllowed) {
  EXPECT_EQ(linkOf(plain, Encryption::Preferred), "not encrypted");
  for (Encryption encryption :
       {Encryption::Required, Encryption::VerifyCa, Encryption::VerifyIdentity}) {
    EXPECT_EQ(linkOf(plain, encryption, authority),
              PlainLinkRefusal.arg(EncryptionCaption(encryption)));
  }
}

TEST_F(LinkSecurityTest, AnUnknownModeInAConnectionStringIsRefused) {
  Connection connection;
  try {
    connection.Open(plain.connectionString("") + "SSLMODE=SOMETIMES;");
    ADD_FAILURE() << "opened";
  } catch (const LinkRefusal& refusal) {
    EXPECT_STREQ(refusal.what(),
                 "Unknown encryption setting SSLMODE=SOMETIMES: use PREFERRED, REQUIRED, "
                 "VERIFY_CA or VERIFY_IDENTITY.");
  }
}

// A server value is a host name or an address and nothing else: the client library would
// read "=" and ";" in it as its own options (a certificate left unchecked, a plugin folder,
// local files), so such a value is refused before anything is sent.
TEST(ServerName, OnlyHostNamesAndAddressesAreTaken) {
  for (const char* name : {"", "localhost", "db1", "db-1.example.com", "my_db.local", "127.0.0.1",
                           "::1", "fe80::1:2", "::ffff:10.0.0.1"}) {
    EXPECT_EQ(ServerNameProblem(name), QString()) << name;
  }
  for (const char* name : {"host=127.0.0.1;ssl-verify-server-cert=0", "127.0.0.1;local-infile=1",
                           "a b", "-db", "db..example", "db/1", "dé.example", "::1;x"}) {
    EXPECT_NE(ServerNameProblem(name), QString()) << name;
  }
  Connection connection;
  const TestServer& server = TestServer::get();
  EXPECT_THROW(
      connection.Open(BuildConnectionString("host=" + server.host + ";local-infile=1", server.user,
                                            server.password, "", server.port)),
      DbError);
}

// A server that asks for a file of the user's (LOAD DATA LOCAL) gets none.
TEST(ServerName, NoLocalFileIsSentToTheServer) {
  ScratchDatabase db;
  db.exec("CREATE TABLE got (line TEXT)");
  Connection connection;
  connection.Open(db.connectionString());
  EXPECT_THROW(connection.Execute("LOAD DATA LOCAL INFILE '/etc/hostname' INTO TABLE got"),
               DbError);
  EXPECT_EQ(db.column("SELECT COUNT(*) FROM got")[0], QByteArray("0"));
}

struct PosingServer {
  const char* greetingMethod;
  const char* switchTo;
};

class APosingServer : public testing::TestWithParam<PosingServer> {};

// Named in the greeting or asked for after it, a method that sends the password itself
// gets nothing, unless the server's certificate and name were checked.
TEST_P(APosingServer, GetsNoPassword) {
  const QByteArray password = "tell-no-stranger-42";
  FakeServer fake(GetParam().greetingMethod, GetParam().switchTo);
  const TestServer posing{"127.0.0.1", fake.port(), "ann", QString::fromLatin1(password), {}};
  EXPECT_EQ(linkOf(posing, Encryption::Preferred),
            "refused: The server asked for a login method that would let anyone who can pose "
            "as the server read the password. Klarifeld uses such a method only when the "
            "server's certificate and host name are checked: choose \"Verify CA and host "
            "name\" and the CA file.");
  EXPECT_FALSE(fake.received().contains(password));
}

// A mode that requires encryption sends not even the user name over an open link.
TEST(AServerWithoutEncryption, ReceivesNothingWhenEncryptionIsRequired) {
  FakeServer fake("mysql_native_password");
  const TestServer posing{"127.0.0.1", fake.port(), "ann", "secret", {}};
  for (Encryption encryption :
       {Encryption::Required, Encryption::VerifyCa, Encryption::VerifyIdentity}) {
    EXPECT_EQ(linkOf(posing, encryption, EncryptedDir + "/certs/ca.pem"),
              PlainLinkRefusal.arg(EncryptionCaption(encryption)));
  }
  EXPECT_EQ(fake.received(), QByteArray());
}

INSTANTIATE_TEST_SUITE_P(ClearTextLogin, APosingServer,
                         testing::Values(PosingServer{"mysql_clear_password", ""},
                                         PosingServer{"mysql_native_password",
                                                      "mysql_clear_password"}));
