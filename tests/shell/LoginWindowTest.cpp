#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "../support/QStringPrinting.h"
#include "ErrorReport.h"
#include "Form2.h"
#include "ListViewWidget.h"
#include "WindowTesting.h"

namespace {
const QString CouldNotConnect = QStringLiteral(
    "Could not connect. Please check with your administrator. Make sure you are allowed to "
    "connect to your database remotely and not just through web-based control panels.");
}  // namespace

class LoginWindowTest : public testing::Test, public WindowTest {};

TEST_F(LoginWindowTest, FirstStartShowsTheDefaultsAndStaysOnTheLogin) {
  Form1& form = start();
  EXPECT_EQ(form.Text1->text(), "localhost");
  EXPECT_EQ(form.Text5->text(), "3306");
  EXPECT_EQ(form.Text2->text(), "");
  EXPECT_EQ(form.Text3->text(), "");
  EXPECT_EQ(form.Text4->text(), "");
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.form2Loaded());
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
  Form1& form = start();
  ASSERT_TRUE(form.form2Loaded());
  EXPECT_TRUE(form.form2().isVisible());
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(entries(form.form2().ListView1), QStringList({"a", "b"}));
  EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(LoginWindowTest, AnEmptyServerBoxMakesNoAttempt) {
  storeWorkingProfile(db.name());
  settings.write("MyServer", "");
  Form1& form = start();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.form2Loaded());
}

TEST_F(LoginWindowTest, NextWithAWrongPasswordDoesNothing) {
  storeWorkingProfile(db.name());
  settings.write("MyPassword", "wrong");
  Form1& form = start();
  QTest::mouseClick(form.PushButton3, Qt::LeftButton);
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.form2Loaded());
  EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(LoginWindowTest, TestConnectionSaysWhetherItConnects) {
  storeWorkingProfile(db.name());
  settings.write("MyPassword", "wrong");
  Form1& form = start();
  QTest::mouseClick(form.PushButton5, Qt::LeftButton);
  form.Text3->setText(TestServer::get().password);
  QTest::mouseClick(form.PushButton5, Qt::LeftButton);
  form.Text5->setText("not a port");
  QTest::mouseClick(form.PushButton5, Qt::LeftButton);
  const std::vector<ShownBox> expected = {
      {ShownBox::Kind::Message, "Klarifeld", CouldNotConnect, BoxIcon::None},
      {ShownBox::Kind::Message, "Klarifeld", "Connection successful.", BoxIcon::None},
      {ShownBox::Kind::Message, "Klarifeld", CouldNotConnect, BoxIcon::None}};
  EXPECT_EQ(dialogs.shown(), expected);
  EXPECT_EQ(form.pointer(), Pointer::Default);
  EXPECT_FALSE(form.form2Loaded()) << "a test opens nothing";
}

TEST_F(LoginWindowTest, HelpShowsItsFourParagraphs) {
  Form1& form = login();
  form.Form_Load();
  QTest::mouseClick(form.PushButton4, Qt::LeftButton);
  ASSERT_EQ(dialogs.messages().size(), 1);
  EXPECT_EQ(dialogs.messages()[0],
            "If you cannot establish connection to your database with this program, please go "
            "to: \r\rhttps://dev.mysql.com/downloads/workbench/\r\rDownload and install the MySQL "
            "Workbench. Try to connect to the same database (with the same login information you "
            "are using here). This will determine if the login you are using is correct.\r\r"
            "Finally, make sure your host allows a direct connection to your MySQL database -- "
            "not a web based connection, for example.");
}

TEST_F(LoginWindowTest, TypingIsStoredAtEveryKeystroke) {
  Form1& form = start();
  form.Text3->setFocus();
  QTest::keyClicks(form.Text3, "s3cr");
  EXPECT_EQ(settings.read("MyPassword", ""), "s3cr");
  EXPECT_EQ(form.Text3->displayText(), "****");
  form.Text4->clear();
  QTest::keyClicks(form.Text4, "shop");
  QTest::keyClick(form.Text4, Qt::Key_Backspace);
  EXPECT_EQ(settings.read("MyDatabase", ""), "sho");
  form.Text1->clear();
  EXPECT_EQ(settings.read("MyServer", "localhost"), "") << "an emptied box is stored empty";
}

TEST_F(LoginWindowTest, FocusSelectsTheWholeTextInTabOrder) {
  Form1& form = start();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.Text1->setFocus();
  const std::vector<QWidget*> order = {form.Text5,       form.Text2,       form.Text3,
                                       form.Text4,       form.PushButton5, form.PushButton4,
                                       form.PushButton3, form.Text1};
  for (QWidget* next : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
  QTest::qWait(1);  // the selection follows the focus
  EXPECT_EQ(form.Text1->selectedText(), "localhost");
}

TEST_F(LoginWindowTest, LayoutIsFixedAndNamed) {
  Form1& form = login();
  EXPECT_EQ(form.size(), QSize(536, 246));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form.Text1->geometry(), QRect(88, 24, 305, 23));
  EXPECT_EQ(form.PushButton3->geometry(), QRect(8, 210, 520, 27));
  EXPECT_EQ(form.PushButton3->font().pointSizeF(), 11.25);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&form)->role(), QAccessible::Window);
  EXPECT_EQ(form.Text1->accessibleName(), "Server");
  EXPECT_EQ(form.Text3->accessibleName(), "Password");
  EXPECT_EQ(form.PushButton5->accessibleName(), "Test Connection");
}

TEST_F(LoginWindowTest, ButtonsShowTheHandUnlessBusy) {
  Form1& form = start();
  moveMouseOver(form.PushButton4);
  EXPECT_EQ(form.pointer(), Pointer::Custom);
  EXPECT_EQ(form.Text2->cursor().shape(), Qt::PointingHandCursor);
  moveMouseOver(form.Text2);
  EXPECT_EQ(form.pointer(), Pointer::Default);
  EXPECT_EQ(form.Text2->cursor().shape(), Qt::IBeamCursor);
  form.setPointer(Pointer::Hourglass);
  moveMouseOver(form.PushButton3);
  EXPECT_EQ(form.pointer(), Pointer::Hourglass);
  moveMouseOver(form.Text5);  // no hover handler of its own
  form.setPointer(Pointer::Custom);
  moveMouseOver(form.Text5);
  EXPECT_EQ(form.pointer(), Pointer::Custom);
}

TEST_F(LoginWindowTest, ClosingEndsTheProgram) {
  Form1& form = start();
  form.close();
  EXPECT_EQ(programEnds, 1);
}
