#include "QtDialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include "../support/QStringPrinting.h"

TEST(QtDialogs, EveryKindOfLineEndShowsAsOneBreak) {
  EXPECT_EQ(DisplayedText("a\r\nb\rc\nd"), "a\nb\nc\nd");
  EXPECT_EQ(DisplayedText("a\r\rb"), "a\n\nb");
  EXPECT_EQ(DisplayedText("a\n\r\nb"), "a\n\nb");
}

// A recipe saved as "monthly" is listed when it is opened again: it gets the filter's
// suffix. Pickers start in the user's documents, then where the last file was picked.
TEST(QtDialogs, FilePickersStartInTheDocumentsAndAddTheSuffix) {
  EXPECT_EQ(FirstSuffixOf("Klarifeld recipes (*.json);;All files (*)"), "json");
  QTemporaryDir home;
  ASSERT_TRUE(QDir(home.path()).mkpath("Documents/sub"));
  const QByteArray oldHome = qgetenv("HOME");
  qputenv("HOME", home.path().toUtf8());
  QtDialogs dialogs;
  QStringList startedIn;
  const auto answerWith = [&](const QString& name) {
    QTimer::singleShot(0, [&, name] {
      auto* picker = QApplication::activeModalWidget()
                         ? qobject_cast<QFileDialog*>(QApplication::activeModalWidget())
                         : nullptr;
      ASSERT_NE(picker, nullptr);
      startedIn << picker->directory().absolutePath();
      picker->selectFile(name);
      static_cast<QDialog*>(picker)->accept();  // as the Save button does
    });
  };
  answerWith(home.path() + "/Documents/sub/monthly");
  EXPECT_EQ(dialogs.chooseNewFile("Save Recipe", "Klarifeld recipes (*.json);;All files (*)"),
            home.path() + "/Documents/sub/monthly.json");
  answerWith("weekly");
  EXPECT_EQ(dialogs.chooseNewFile("Save Recipe", "Klarifeld recipes (*.json);;All files (*)"),
            home.path() + "/Documents/sub/weekly.json");
  EXPECT_EQ(startedIn, QStringList({home.path() + "/Documents", home.path() + "/Documents/sub"}));
  qputenv("HOME", oldHome);
}
