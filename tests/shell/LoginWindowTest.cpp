#include <gtest/gtest.h>

#include <QCompleter>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "../support/QStringPrinting.h"
#include "ConnectionString.h"
#include "ErrorReport.h"
#include "ListViewWidget.h"
#include "MainWindow.h"
#include "OperationCatalogue.h"
#include "PgTestServer.h"
#include "PreviewWindow.h"
#include "WindowTesting.h"

namespace {
const QString CouldNotConnect = QStringLiteral(
    "Could not connect. Please check with your administrator. Make sure you are allowed to "
    "connect to your database remotely and not just through web-based control panels.");
}  // namespace

class LoginWindowTest : public testing::Test, public WindowTest {};

TEST_F(LoginWindowTest, FirstStartShowsTheDefaultsAndStaysOnTheLogin) {
  LoginWindow& form = start();
  EXPECT_EQ(form.serverBox->text(), "localhost");
  EXPECT_EQ(form.portBox->text(), "3306");
  EXPECT_EQ(form.userBox->text(), "");
  EXPECT_EQ(form.passwordBox->text(), "");
  EXPECT_EQ(form.databaseBox->text(), "");
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.mainWindowLoaded());
  EXPECT_TRUE(dialogs.shown().empty());
  EXPECT_EQ(form.windowTitle(), "Klarifeld");
  EXPECT_EQ(dialogs.applicationTitle(), "Klarifeld");
  // Filling the boxes went through their change handling.
  EXPECT_EQ(settings.read("MyServer", "absent"), "localhost");
  EXPECT_EQ(settings.read("MyPort", "absent"), "3306");
  EXPECT_EQ(settings.read("MyUser", "absent"), "absent");
}

TEST_F(LoginWindowTest, AStoredProfileThatConnectsOpensTheMainWindow) {
  db.exec("CREATE TABLE b (x INT); CREATE TABLE a (x INT); CREATE TABLE sysx (x INT)");
  storeWorkingProfile(db.name());
  LoginWindow& form = start();
  ASSERT_TRUE(form.mainWindowLoaded());
  EXPECT_TRUE(form.mainWindow().isVisible());
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(entries(form.mainWindow().tableList), QStringList({"a", "b"}));
  EXPECT_TRUE(dialogs.shown().empty());
}

// A mistyped stored mode must not quietly become "Preferred": nothing connects.
TEST_F(LoginWindowTest, AnUnknownStoredEncryptionIsSaidAndNothingConnects) {
  storeWorkingProfile(db.name());
  settings.write("MyEncryption", "VERIFY-IDENTITY");
  LoginWindow& form = start();
  EXPECT_FALSE(form.mainWindowLoaded());
  EXPECT_EQ(dialogs.messages(),
            QStringList({"The stored encryption setting \"VERIFY-IDENTITY\" is not one that "
                         "Klarifeld knows, so it did not connect. Choose the encryption in the "
                         "Engine and Encryption frame."}));
}

TEST_F(LoginWindowTest, AnEmptyServerBoxMakesNoAttempt) {
  storeWorkingProfile(db.name());
  settings.write("MyServer", "");
  LoginWindow& form = start();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.mainWindowLoaded());
}

// Next says why it cannot go on: the server's reason, and what to do about it.
TEST_F(LoginWindowTest, NextThatCannotConnectSaysWhy) {
  storeWorkingProfile(db.name());
  settings.write("MyPassword", "wrong");
  LoginWindow& form = start();
  EXPECT_TRUE(dialogs.shown().empty()) << "the start-up attempt fails quietly";
  // but says why on a line of the window, heard as it shows, the whole reason in its tip
  EXPECT_TRUE(form.connectionNote->text().startsWith("Not connected: Access denied for user '"))
      << form.connectionNote->text().toStdString();
  EXPECT_TRUE(form.connectionNote->isVisible());
  EXPECT_EQ(QAccessible::queryAccessibleInterface(form.connectionNote)->text(QAccessible::Name),
            form.connectionNote->text());
  EXPECT_TRUE(form.connectionNote->toolTip().endsWith("may not log in from this computer."));
  // Enter in a box goes on as "Next >" does.
  QTest::keyClick(form.passwordBox, Qt::Key_Return);
  EXPECT_EQ(form.connectionNote->text(), "") << "the box says it now";
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.mainWindowLoaded());
  ASSERT_EQ(dialogs.messages().size(), 1);
  EXPECT_TRUE(dialogs.messages()[0].startsWith("Could not connect: Access denied for user '"))
      << dialogs.messages()[0].toStdString();
  EXPECT_TRUE(dialogs.messages()[0].endsWith(
      "(using password: YES)\r\rThe user name or the password is wrong, or this user may not "
      "log in from this computer."));
}

// No database, or one that the server does not have, is refused in a sentence; the ones the
// server has are named and offered.
TEST_F(LoginWindowTest, NextNeedsADatabaseThatIsThere) {
  storeWorkingProfile("");
  LoginWindow& form = start();
  QTest::mouseClick(form.nextButton, Qt::LeftButton);
  form.databaseBox->setText(db.name() + "_typo");
  QTest::mouseClick(form.nextButton, Qt::LeftButton);
  ASSERT_EQ(dialogs.messages().size(), 2);
  EXPECT_EQ(dialogs.messages()[0],
            "Enter the name of a database in the Database box: Klarifeld cleans the tables of "
            "one database.");
  EXPECT_TRUE(dialogs.messages()[1].startsWith("Could not connect: Unknown database '" + db.name() +
                                               "_typo'\r\rThe server has no database "
                                               "of that name: check the Database box. "
                                               "It has: "));
  EXPECT_TRUE(dialogs.messages()[1].contains(db.name()));
  EXPECT_FALSE(form.mainWindowLoaded());
  ASSERT_NE(form.databaseBox->completer(), nullptr);
  form.databaseBox->completer()->setCompletionPrefix(db.name().left(5));
  EXPECT_GE(form.databaseBox->completer()->completionCount(), 1);
}

TEST_F(LoginWindowTest, TestConnectionSaysWhetherItConnects) {
  storeWorkingProfile(db.name());
  settings.write("MyPassword", "wrong");
  LoginWindow& form = start();
  QTest::mouseClick(form.testConnectionButton, Qt::LeftButton);
  form.passwordBox->setText(TestServer::get().password);
  QTest::mouseClick(form.testConnectionButton, Qt::LeftButton);
  form.portBox->setText("not a port");
  QTest::mouseClick(form.testConnectionButton, Qt::LeftButton);
  // The tests have no secret store: the typed password goes into the file, said once.
  ASSERT_EQ(dialogs.messages().size(), 4);
  EXPECT_TRUE(dialogs.messages()[0].startsWith(CouldNotConnect + "\r\rAccess denied for user"));
  EXPECT_TRUE(dialogs.messages()[1].startsWith("No secret store of the desktop answered ("));
  EXPECT_TRUE(dialogs.messages()[1].endsWith("so the password is kept in the settings file " +
                                             settings.filePath() + ", which only you can read."));
  EXPECT_EQ(dialogs.messages()[2], "Connection successful (not encrypted).");
  EXPECT_TRUE(dialogs.messages()[3].startsWith(CouldNotConnect + "\r\r"));
  EXPECT_EQ(dialogs.shown()[2].title, "Klarifeld");
  EXPECT_EQ(form.pointer(), Pointer::Default);
  EXPECT_FALSE(form.mainWindowLoaded()) << "a test opens nothing";
  EXPECT_NE(form.databaseBox->completer(), nullptr) << "the databases are offered";
}

TEST_F(LoginWindowTest, HelpShowsItsFourParagraphs) {
  LoginWindow& form = login();
  form.load();
  QTest::mouseClick(form.helpButton, Qt::LeftButton);
  ASSERT_EQ(dialogs.messages().size(), 1);
  EXPECT_EQ(dialogs.messages()[0],
            "If you cannot establish connection to your database with this program, please go "
            "to: \r\rhttps://dev.mysql.com/downloads/workbench/\r\rDownload and install the MySQL "
            "Workbench. Try to connect to the same database (with the same login information you "
            "are using here). This will determine if the login you are using is correct.\r\r"
            "Finally, make sure your host allows a direct connection to your MySQL database -- "
            "not a web based connection, for example.");
  // Enter on a button presses that button, not "Next >".
  dialogs.clear();
  form.helpButton->setFocus();
  QTest::keyClick(form.helpButton, Qt::Key_Return);
  EXPECT_EQ(dialogs.messages().size(), 1);
  EXPECT_TRUE(dialogs.messages().value(0).startsWith("If you cannot establish connection"));
}

TEST_F(LoginWindowTest, TypingIsStoredAtEveryKeystroke) {
  LoginWindow& form = start();
  form.passwordBox->setFocus();
  QTest::keyClicks(form.passwordBox, "s3cr");
  EXPECT_EQ(settings.read("MyPassword", ""), "s3cr");
  EXPECT_EQ(form.passwordBox->displayText(), "****");
  form.databaseBox->clear();
  QTest::keyClicks(form.databaseBox, "shop");
  QTest::keyClick(form.databaseBox, Qt::Key_Backspace);
  EXPECT_EQ(settings.read("MyDatabase", ""), "sho");
  form.serverBox->clear();
  EXPECT_EQ(settings.read("MyServer", "localhost"), "") << "an emptied box is stored empty";
}

TEST_F(LoginWindowTest, FocusSelectsTheWholeTextInTabOrder) {
  LoginWindow& form = start();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.serverBox->setFocus();
  const std::vector<QWidget*> order = {form.portBox,
                                       form.userBox,
                                       form.passwordBox,
                                       form.databaseBox,
                                       form.engineBox,
                                       form.encryptionBox,
                                       form.caFileBox,
                                       form.chooseCaFileButton,
                                       form.testConnectionButton,
                                       form.helpButton,
                                       form.nextButton,
                                       form.serverBox};
  for (QWidget* next : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
  QTest::qWait(1);  // the selection follows the focus
  EXPECT_EQ(form.serverBox->selectedText(), "localhost");
}

TEST_F(LoginWindowTest, LayoutIsFixedAndNamed) {
  LoginWindow& form = login();
  EXPECT_EQ(form.size(), QSize(848, 246));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form.serverBox->geometry(), QRect(88, 24, 305, 23));
  EXPECT_EQ(form.nextButton->geometry(), QRect(8, 210, 520, 27));
  EXPECT_EQ(form.nextButton->font().pointSizeF(), 11.25);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&form)->role(), QAccessible::Window);
  EXPECT_EQ(form.serverBox->accessibleName(), "Server");
  EXPECT_EQ(form.passwordBox->accessibleName(), "Password");
  EXPECT_EQ(form.testConnectionButton->accessibleName(), "Test Connection");
  QAccessibleInterface* encryption = QAccessible::queryAccessibleInterface(form.encryptionBox);
  EXPECT_EQ(encryption->text(QAccessible::Name), "Encryption") << "its label, not its value";
  EXPECT_EQ(encryption->text(QAccessible::Value), "Preferred");
  EXPECT_EQ(encryption->childCount(), 1) << "its list";
  QAccessibleInterface* engine = QAccessible::queryAccessibleInterface(form.engineBox);
  EXPECT_EQ(engine->text(QAccessible::Name), "Engine");
  EXPECT_EQ(engine->text(QAccessible::Value), "MySQL / MariaDB");
  EXPECT_EQ(form.caFileBox->accessibleName(), "CA file");
  EXPECT_EQ(form.encryptionFrame->geometry(), QRect(536, 8, 304, 193));
}

TEST_F(LoginWindowTest, TheEncryptionIsStoredAndGoesIntoTheConnectionString) {
  settings.write("MyEncryption", "VERIFY_CA");
  settings.write("MyCAFile", "/etc/ca;1.pem");
  LoginWindow& form = start();
  EXPECT_EQ(form.encryptionBox->currentText(), "Verify CA");
  EXPECT_TRUE(form.connectionString().endsWith("SSLMODE=VERIFY_CA;SSLCA={/etc/ca;1.pem};"));
  form.encryptionBox->setCurrentIndex(1);
  EXPECT_EQ(settings.read("MyEncryption", ""), "REQUIRED");
  EXPECT_EQ(form.encryptionNote->text(), "Encrypted, or no connection.");

  dialogs.chosenFile = "/home/ann/server-ca.pem";
  QTest::mouseClick(form.chooseCaFileButton, Qt::LeftButton);
  EXPECT_EQ(form.caFileBox->text(), "/home/ann/server-ca.pem");
  EXPECT_EQ(settings.read("MyCAFile", ""), "/home/ann/server-ca.pem");
  dialogs.chosenFile.clear();  // cancelled: the box keeps its file
  QTest::mouseClick(form.chooseCaFileButton, Qt::LeftButton);
  EXPECT_EQ(form.caFileBox->text(), "/home/ann/server-ca.pem");
  EXPECT_EQ(dialogs.filePickers, QStringList({"CA File", "CA File"}));

  settings.write("MyEncryption", "SOMETIMES");
  LoginWindow again(dialogs, settings);
  again.load();
  EXPECT_EQ(again.encryptionBox->currentText(), "Preferred") << "an unknown value is the default";
}

TEST_F(LoginWindowTest, TestConnectionSaysWhyTheLinkWasRefused) {
  storeWorkingProfile(db.name());
  settings.write("MyEncryption", "REQUIRED");
  LoginWindow& form = start();
  EXPECT_FALSE(form.mainWindowLoaded()) << "the test server does not encrypt";
  QTest::mouseClick(form.testConnectionButton, Qt::LeftButton);
  EXPECT_EQ(dialogs.messages(),
            QStringList({CouldNotConnect +
                         "\r\rThe server did not encrypt the connection, and Encryption is set to "
                         "\"Required\". Ask the server's administrator to turn on TLS, or choose "
                         "\"Preferred\"."}));
}

TEST_F(LoginWindowTest, ButtonsShowTheHandUnlessBusy) {
  LoginWindow& form = start();
  moveMouseOver(form.helpButton);
  EXPECT_EQ(form.pointer(), Pointer::Custom);
  EXPECT_EQ(form.userBox->cursor().shape(), Qt::PointingHandCursor);
  moveMouseOver(form.userBox);
  EXPECT_EQ(form.pointer(), Pointer::Default);
  EXPECT_EQ(form.userBox->cursor().shape(), Qt::IBeamCursor);
  form.setPointer(Pointer::Hourglass);
  moveMouseOver(form.nextButton);
  EXPECT_EQ(form.pointer(), Pointer::Hourglass);
  moveMouseOver(form.portBox);  // no hover handler of its own
  form.setPointer(Pointer::Custom);
  moveMouseOver(form.portBox);
  EXPECT_EQ(form.pointer(), Pointer::Custom);
}

TEST_F(LoginWindowTest, ClosingEndsTheProgram) {
  LoginWindow& form = start();
  form.close();
  EXPECT_EQ(programEnds, 1);
}

// The engine is one more stored setting; PostgreSQL's port replaces MySQL's own only.
TEST_F(LoginWindowTest, ChoosingPostgreSqlTakesItsPortAndIsStored) {
  LoginWindow& form = start();
  ASSERT_EQ(form.portBox->text(), "3306");
  form.engineBox->setCurrentIndex(1);
  emit form.engineBox->activated(1);
  EXPECT_EQ(form.portBox->text(), "5432");
  EXPECT_EQ(settings.read("MyEngine", "absent"), "PostgreSQL");
  form.portBox->setText("6000");
  form.engineBox->setCurrentIndex(0);
  emit form.engineBox->activated(0);
  EXPECT_EQ(form.portBox->text(), "6000") << "a port of the user's own stays";
  EXPECT_EQ(settings.read("MyEngine", "absent"), "");
}

// The windows on PostgreSQL: the tables of the search path listed (not views), a field's
// values previewed, a run written, also in a table of the path's second schema.
TEST_F(LoginWindowTest, AStoredPostgreSqlProfileListsReadsAndWrites) {
  PgScratchDatabase pg;
  pg.exec(
      "CREATE TABLE people (id int PRIMARY KEY, name text); CREATE VIEW v AS SELECT 1;"
      "INSERT INTO people VALUES (1, 'Ann  Lee'), (2, NULL), (3, 'Bo');"
      "CREATE SCHEMA \"our stock\"; CREATE TABLE \"our stock\".people (id int PRIMARY KEY, "
      "name text); INSERT INTO \"our stock\".people VALUES (7, 'C  D');"
      "CREATE TABLE \"our stock\".\"a.b\" (id int); CREATE SCHEMA unlisted;"
      "CREATE TABLE unlisted.t (id int);"
      "ALTER DATABASE " +
      pg.name() + " SET search_path = public, \"our stock\"");
  const ConnectionAttributes login = ParseConnectionString(pg.connectionString());
  settings.write("MyServer", login.server);
  settings.write("MyPort", login.port);
  settings.write("MyUser", login.user);
  settings.write("MyPassword", login.password);
  settings.write("MyDatabase", login.database);
  settings.write("MyEngine", "PostgreSQL");
  LoginWindow& form = start();
  ASSERT_TRUE(form.mainWindowLoaded()) << form.connectionNote->text().toStdString();
  MainWindow& main = form.mainWindow();
  EXPECT_EQ(entries(main.tableList), QStringList({"people", "our stock.a.b", "our stock.people"}));
  clickEntry(main.tableList, 0);
  EXPECT_EQ(entries(main.fieldList), QStringList({"id", "name"}));
  clickEntry(main.fieldList, 1);
  EXPECT_EQ(entries(main.previewList), QStringList({"Ann  Lee", "", "Bo"}));
  main.operationBox->setCurrentIndex(FindOperationByName(u"remove-all-spaces")->position);
  QTest::mouseClick(main.startButton, Qt::LeftButton);
  EXPECT_EQ(pg.column("SELECT name FROM people ORDER BY id"),
            Column({QByteArray("AnnLee"), std::nullopt, QByteArray("Bo")}));

  // Preview Changes and Apply there.
  clickEntry(main.tableList, 2);
  clickEntry(main.fieldList, 1);
  EXPECT_EQ(entries(main.previewList), QStringList({"C  D"}));
  main.previewAction->trigger();
  ASSERT_NE(main.previewWindow(), nullptr);
  EXPECT_EQ(main.previewWindow()->countsText->text(),
            "1 records read: 1 would change, 0 unchanged, 0 nulls (never written), 0 cannot be "
            "computed.");
  QTest::mouseClick(main.previewWindow()->applyButton, Qt::LeftButton);
  EXPECT_EQ(pg.column("SELECT name FROM \"our stock\".people"), Column({QByteArray("CD")}));
}
