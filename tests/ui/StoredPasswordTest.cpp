// The password in the desktop's secret store, or in the settings file where none answers.
#include "StoredPassword.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>

#include "../support/QStringPrinting.h"
#include "ProfileKeys.h"
#include "SettingsStore.h"

namespace {

class StoredPasswordTest : public ::testing::Test {
 protected:
  void SetUp() override { qputenv("XDG_CONFIG_HOME", config.path().toUtf8()); }
  QTemporaryDir config;
  const SettingsStore settings;
};

}  // namespace

TEST_F(StoredPasswordTest, WithoutASecretStoreTheFileKeepsItAndSaysSoOnce) {
  if (qEnvironmentVariableIsSet("KLARIFELD_TEST_KEYRING")) GTEST_SKIP() << "a store answers";
  settings.write(ProfileKeys::Password, "old");
  StoredPassword password(settings);
  QStringList told;
  password.onKeptInFile = [&](const QString& reason) { told << reason; };
  EXPECT_EQ(password.read(), "old");
  EXPECT_FALSE(password.keptInFileBecause().isEmpty());
  password.write("old");
  EXPECT_TRUE(told.isEmpty()) << "the file read back is no news";
  password.write("new");
  password.write("newer");
  EXPECT_EQ(settings.read(ProfileKeys::Password, {}), "newer");
  ASSERT_EQ(told.size(), 1) << "said once";
  EXPECT_EQ(told[0], password.keptInFileBecause());
}

// Run beside a private store: ctest's secret_store_test.
TEST_F(StoredPasswordTest, ASecretStoreTakesThePasswordOutOfTheFile) {
  if (!qEnvironmentVariableIsSet("KLARIFELD_TEST_KEYRING")) GTEST_SKIP() << "no private store";
  settings.write(ProfileKeys::Password, "from an older version");
  StoredPassword password(settings);
  bool told = false;
  password.onKeptInFile = [&](const QString&) { told = true; };
  EXPECT_EQ(password.read(), "from an older version");
  EXPECT_EQ(password.keptInFileBecause(), "");
  EXPECT_FALSE(settings.contains(ProfileKeys::Password)) << "moved into the store";
  EXPECT_EQ(StoredPassword(settings).read(), "from an older version");

  password.write("typed");
  EXPECT_TRUE(QTest::qWaitFor([&] { return StoredPassword(settings).read() == "typed"; }, 5000));
  EXPECT_FALSE(settings.contains(ProfileKeys::Password));
  EXPECT_FALSE(told);
}
