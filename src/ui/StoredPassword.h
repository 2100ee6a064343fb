#pragma once

#include <QString>
#include <functional>
#include <memory>

class SettingsStore;

// The login's password, kept in the desktop's secret store (through QtKeychain, as the
// service "Klarifeld", one entry for each settings file) rather than in the settings file. A password that the file still
// holds moves into the store when it is first read. Where no secret store answers, the
// file keeps it, as it always did, readable by its owner alone.
class StoredPassword {
 public:
  explicit StoredPassword(const SettingsStore& settings);

  // Asks the store and waits for its answer, events going on meanwhile (a store may ask
  // the user to unlock it).
  QString read();
  // Handed to the store without waiting, so that typing is never held up; into the file
  // at once when no store answers.
  void write(const QString& password);
  // Why the file keeps the password; empty while the secret store keeps it.
  const QString& keptInFileBecause() const { return inFileBecause_; }
  // Called once, the first time a password goes into the file: for saying so.
  std::function<void(const QString& reason)> onKeptInFile;

 private:
  void keepInFile(const QString& password, const QString& reason);

  const SettingsStore& settings_;
  QString inFileBecause_;
  bool told_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>();  // for the answers still to come
};
