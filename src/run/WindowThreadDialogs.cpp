#include "WindowThreadDialogs.h"

#include <QThread>
#include <exception>
#include <optional>

WindowThreadDialogs::WindowThreadDialogs(Dialogs& shown) : shown_(shown) {
  setApplicationTitle(shown.applicationTitle());
}

// A failure inside the box travels back to the worker rather than through the event loop.
template <class Box>
auto WindowThreadDialogs::onWindowThread(Box&& box) {
  if (QThread::currentThread() == windowThread_.thread()) return box();
  std::optional<decltype(box())> answer;
  std::exception_ptr failure;
  QMetaObject::invokeMethod(
      &windowThread_,
      [&] {
        try {
          answer = box();
        } catch (...) {
          failure = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (failure) std::rethrow_exception(failure);
  return std::move(*answer);
}

void WindowThreadDialogs::showMessage(const QString& text, const QString& title, BoxIcon icon) {
  onWindowThread([&] {
    shown_.showMessage(text, title, icon);
    return true;
  });
}

QString WindowThreadDialogs::askInput(const QString& prompt, const QString& title) {
  return onWindowThread([&] { return shown_.askInput(prompt, title); });
}

ReportAnswer WindowThreadDialogs::showMessageOfferingStop(const QString& text, const QString& title,
                                                          BoxIcon icon) {
  return onWindowThread([&] { return shown_.showMessageOfferingStop(text, title, icon); });
}

bool WindowThreadDialogs::askYesNo(const QString& question) {
  return onWindowThread([&] { return shown_.askYesNo(question); });
}

QString WindowThreadDialogs::chooseFile(const QString& title, const QString& filter) {
  return onWindowThread([&] { return shown_.chooseFile(title, filter); });
}

QString WindowThreadDialogs::chooseNewFile(const QString& title, const QString& filter) {
  return onWindowThread([&] { return shown_.chooseNewFile(title, filter); });
}
