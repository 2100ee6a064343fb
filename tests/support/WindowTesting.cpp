#include "WindowTesting.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

WindowTest::WindowTest() {
  qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
  qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
  Window::EndProgram = [this] { ++programEnds; };
}

WindowTest::~WindowTest() {
  login_.reset();
  Window::EndProgram = [] {};
}

void WindowTest::storeWorkingProfile(const QString& database) {
  const TestServer& server = TestServer::get();
  settings.write(QStringLiteral("MyServer"), server.host);
  settings.write(QStringLiteral("MyPort"), server.port);
  settings.write(QStringLiteral("MyUser"), server.user);
  settings.write(QStringLiteral("MyPassword"), server.password);
  settings.write(QStringLiteral("MyDatabase"), database);
}

LoginWindow& WindowTest::login() {
  if (!login_) login_ = std::make_unique<LoginWindow>(dialogs, settings);
  return *login_;
}

LoginWindow& WindowTest::start() {
  login().start();
  return login();
}

void WindowTest::clickEntry(QTreeWidget* list, int row) {
  QTreeWidgetItem* item = list->topLevelItem(row);
  list->scrollToItem(item);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

QStringList WindowTest::entries(const QTreeWidget* list) {
  QStringList texts;
  for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(0);
  return texts;
}

void WindowTest::moveMouseOver(QWidget* control) {
  QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), control->mapToGlobal(QPointF(2, 2)),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(control, &move);
}
