#include "WorkerThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <exception>
#include <thread>

#include "DbError.h"
#include "Journal.h"

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
    } catch (const DbError&) {
      failure = std::current_exception();
    } catch (const JournalError&) {
      failure = std::current_exception();
    } catch (const std::exception& unexpected) {
      // Told as a failure of the work, never an end of the program.
      failure = std::make_exception_ptr(DbError(QString::fromUtf8(unexpected.what())));
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
