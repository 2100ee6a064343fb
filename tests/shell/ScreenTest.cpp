// What a person sees: the screen read back from the X server, on a virtual display under a
// window manager (tests/support/on-screen). A window's own pixels are not enough: they can
// be whole while the screen shows something else.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "LoginWindow.h"
#include "MainWindow.h"
#include "ProgressWindow.h"
#include "ScriptedDialogs.h"
#include "SettingsStore.h"

namespace {

// The share of the rectangle's pixels, read from the root window, that are black.
double blackShare(const QRect& screenRect) {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11->connection();
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  std::unique_ptr<xcb_get_image_reply_t, decltype(&free)> image(
      xcb_get_image_reply(
          connection,
          xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, qint16(screenRect.x()),
                        qint16(screenRect.y()), quint16(screenRect.width()),
                        quint16(screenRect.height()), ~0u),
          nullptr),
      &free);
  if (!image) return 1.0;
  // 24-bit colour in 32-bit pixels.
  const auto* pixels = reinterpret_cast<const quint32*>(xcb_get_image_data(image.get()));
  const int count = xcb_get_image_data_length(image.get()) / 4;
  int black = 0;
  for (int i = 0; i < count; ++i) black += (pixels[i] & 0xFFFFFF) == 0;
  return count ? double(black) / count : 1.0;
}

class OnScreen : public testing::Test {
 protected:
  OnScreen() {
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    settings = std::make_unique<SettingsStore>();
    login = std::make_unique<LoginWindow>(dialogs, *settings);
    main = std::make_unique<MainWindow>(*login, dialogs, *settings);
  }

  QTemporaryDir configHome, dataHome;
  ScriptedDialogs dialogs;
  std::unique_ptr<SettingsStore> settings;
  std::unique_ptr<LoginWindow> login;
  std::unique_ptr<MainWindow> main;
};

}  // namespace

// The progress window opens over the main window while the run is served from a nested
// loop; within half a second it must be on the screen, painted.
TEST_F(OnScreen, TheProgressWindowIsPaintedWithinHalfASecond) {
  main->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
  RunProgress progress(1000);
  ProgressWindow& window = main->progressWindow();
  window.runStarted({"customers", "name", "Remove All Spaces in Selected Field"}, progress, [] {});
  QTest::qWait(500);
  const QRect client(window.mapToGlobal(QPoint(0, 0)), window.size());
  EXPECT_LT(blackShare(client), 0.2) << "the progress window is black on the screen";
  // Controls of the reading itself: the main window is light, the bare screen corner black.
  EXPECT_LT(blackShare(QRect(main->mapToGlobal(QPoint(0, 0)), QSize(40, 40))), 0.2);
  const QRect screen = main->screen()->geometry();
  EXPECT_GT(blackShare(QRect(screen.bottomRight() - QPoint(40, 40), QSize(40, 40))), 0.9);
  window.runEnded({});
}
