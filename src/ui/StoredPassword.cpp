#include "StoredPassword.h"

#include <qt6keychain/keychain.h>
#include <QEventLoop>

#include "ProfileKeys.h"
#include "SettingsStore.h"

namespace {

const QString Service = QStringLiteral("Klarifeld");

// One entry for each settings file: the demo's, with a file of its own, never takes the
// place of the user's own password.
QString entryKey(const SettingsStore& settings) {
  return ProfileKeys::Password + u' ' + settings.filePath();
}

// Runs a job to its end; an event loop runs meanwhile.
void waitFor(QKeychain::Job& job, const SettingsStore& settings) {
  job.setAutoDelete(false);
  job.setKey(entryKey(settings));
  QEventLoop loop;
  QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
  job.start();
  loop.exec();
}

}  // namespace

StoredPassword::StoredPassword(const SettingsStore& settings) : settings_(settings) {}

QString StoredPassword::read() {
  if (settings_.contains(ProfileKeys::Password)) {
    const QString inFile = settings_.read(ProfileKeys::Password, {});
    QKeychain::WritePasswordJob moving(Service);
    moving.setTextData(inFile);
    waitFor(moving, settings_);
    if (moving.error() != QKeychain::NoError) {
      inFileBecause_ = moving.errorString();
      return inFile;
    }
    settings_.remove(ProfileKeys::Password);
    inFileBecause_.clear();
    return inFile;
  }
  QKeychain::ReadPasswordJob reading(Service);
  waitFor(reading, settings_);
  switch (reading.error()) {
    case QKeychain::NoError:
      inFileBecause_.clear();
      return reading.textData();
    case QKeychain::EntryNotFound:
      inFileBecause_.clear();
      return {};
    default:
      inFileBecause_ = reading.errorString();
      return {};
  }
}

void StoredPassword::write(const QString& password) {
  if (!inFileBecause_.isEmpty()) {
    keepInFile(password, inFileBecause_);
    return;
  }
  // Jobs run one after the other, so the last one written is the one kept.
  auto* job = new QKeychain::WritePasswordJob(Service);
  job->setKey(entryKey(settings_));
  job->setTextData(password);
  const std::weak_ptr<int> alive = alive_;
  QObject::connect(job, &QKeychain::Job::finished, [this, alive, password](QKeychain::Job* done) {
    if (alive.expired()) return;
    if (done->error() == QKeychain::NoError) {
      settings_.remove(ProfileKeys::Password);
    } else {
      keepInFile(password, done->errorString());
    }
  });
  job->start();
}

void StoredPassword::keepInFile(const QString& password, const QString& reason) {
  inFileBecause_ = reason;
  const bool changed = settings_.read(ProfileKeys::Password, {}) != password;
  settings_.write(ProfileKeys::Password, password);
  // Said when the user's typing goes into the file, not when the file is read back.
  if (changed && !told_ && !password.isEmpty() && onKeptInFile) {
    told_ = true;
    onKeptInFile(reason);
  }
}
