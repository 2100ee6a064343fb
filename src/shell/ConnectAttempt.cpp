#include "ConnectAttempt.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <mutex>
#include <thread>

#include "ConnectionString.h"
#include "Dialogs.h"
#include "LinkRefusal.h"

namespace {

constexpr int TimeoutSeconds = 10;
constexpr int ShowAfterMilliseconds = 400;
constexpr int PollMilliseconds = 20;

// Shared with the thread, which may outlive a cancelled attempt.
struct Pending {
  std::mutex lock;
  bool done = false;
  std::unique_ptr<Connection> connection;
  std::optional<DbError> failure;
  bool refusedForSafety = false;
};

}  // namespace

ConnectAttempt ConnectAttempt::run(QWidget* window, const QString& connectionString) {
  auto pending = std::make_shared<Pending>();
  std::thread([pending, connectionString] {
    auto connection = std::make_unique<Connection>();
    connection->ConnectionTimeout = TimeoutSeconds;
    std::optional<DbError> failure;
    bool refusedForSafety = false;
    try {
      connection->Open(connectionString);
    } catch (const LinkRefusal& refusal) {
      failure = refusal;
      refusedForSafety = true;
    } catch (const DbError& error) {
      failure = error;
    } catch (const std::exception& error) {
      failure = DbError(QString::fromUtf8(error.what()));
    }
    const std::lock_guard guard(pending->lock);
    pending->done = true;
    if (failure) {
      pending->failure = std::move(failure);
      pending->refusedForSafety = refusedForSafety;
    } else {
      pending->connection = std::move(connection);
    }
  }).detach();

  const QString server = ParseConnectionString(connectionString).server;
  QProgressDialog indicator(QStringLiteral("Connecting to %1…")
                                .arg(server.isEmpty() ? QStringLiteral("localhost") : server),
                            QStringLiteral("Cancel"), 0, 0, window);
  indicator.setWindowTitle(FullDisplayName);
  indicator.setWindowModality(Qt::WindowModal);
  indicator.setMinimumDuration(ShowAfterMilliseconds);
  QEventLoop waiting;
  QTimer poll;
  poll.setInterval(PollMilliseconds);
  QObject::connect(&poll, &QTimer::timeout, &waiting, [&] {
    const std::lock_guard guard(pending->lock);
    if (pending->done) waiting.quit();
  });
  QObject::connect(&indicator, &QProgressDialog::canceled, &waiting, &QEventLoop::quit);
  poll.start();
  indicator.setValue(0);
  waiting.exec();

  ConnectAttempt attempt;
  const std::lock_guard guard(pending->lock);
  if (!pending->done) {
    attempt.result = Result::Cancelled;
  } else if (pending->connection) {
    attempt.result = Result::Connected;
    attempt.connection = std::move(pending->connection);
  } else {
    attempt.failure = std::move(pending->failure);
    attempt.refusedForSafety = pending->refusedForSafety;
  }
  return attempt;
}
