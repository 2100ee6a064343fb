#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QFile>
#include <QTemporaryDir>

#include "../support/QStringPrinting.h"

class SettingsStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  }
  QTemporaryDir home;
};

TEST_F(SettingsStoreTest, AbsentKeyGivesTheDefaultWithoutCreatingIt) {
  const SettingsStore store;
  EXPECT_EQ(store.read("MyServer", "localhost"), "localhost");
  EXPECT_EQ(store.read("MyUser", ""), "");
  EXPECT_FALSE(QFile::exists(store.filePath()));
}

TEST_F(SettingsStoreTest, WritesReachTheFileAtOnceAndSurviveExactly) {
  const QString awkward = QStringLiteral(" p;a=s\"s\\w#ö@Variant(x) ");
  SettingsStore().write("MyPassword", awkward);
  SettingsStore().write("MyUser", "");
  SettingsStore().write("Combo1", "7");

  const SettingsStore later;
  EXPECT_EQ(later.read("MyPassword", "default"), awkward);
  EXPECT_EQ(later.read("MyUser", "default"), "") << "an empty value is a present value";
  EXPECT_EQ(later.read("Combo1", "0"), "7");
  EXPECT_EQ(later.filePath(), home.path() + "/Orvanta.ini");

  QFile file(later.filePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QString content = QString::fromUtf8(file.readAll());
  EXPECT_TRUE(content.contains("[Klarifeld]"));
  EXPECT_TRUE(content.contains("Combo1=7"));
}

TEST_F(SettingsStoreTest, OnlyTheOwnerMayReadTheFile) {
  const SettingsStore store;
  store.write("MyPassword", "secret");
  store.write("MyPassword", "secret2");
  struct stat status {};
  ASSERT_EQ(stat(QFile::encodeName(store.filePath()).constData(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(SettingsStoreTest, SectionsAndApplicationsAreSeparate) {
  SettingsStore("Orvanta", "Other").write("MyServer", "elsewhere");
  SettingsStore("Another", "Klarifeld").write("MyServer", "there");
  EXPECT_EQ(SettingsStore().read("MyServer", "localhost"), "localhost");
  EXPECT_EQ(SettingsStore("Orvanta", "Other").read("MyServer", ""), "elsewhere");
}

TEST_F(SettingsStoreTest, AnUnwritableStoreFailsLoudly) {
  QFile blocker(home.path() + "/blocked");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  qputenv("XDG_CONFIG_HOME", (home.path() + "/blocked").toUtf8());
  EXPECT_THROW(SettingsStore().write("MyServer", "x"), std::runtime_error);
}
