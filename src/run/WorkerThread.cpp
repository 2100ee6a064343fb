#include "WorkerThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <exception>
#include <thread>

void RunWhileServingEvents(const std::function<void()>& work) {
  if (!QCoreApplication::instance()) {
    work();
    return;
  }
  QEventLoop serving;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    // Queued: taken up by exec() even when the work ends before exec() begins.
    QMetaObject::invokeMethod(&serving, &QEventLoop::quit, Qt::QueuedConnection);
  });
  serving.exec();
  worker.join();
  if (failure) std::rethrow_exception(failure);
}
