#pragma once

#include <QString>
#include <functional>

class QSettings;

// The per-user settings: text values addressed by application, section and key,
// kept in "<application>.ini" under the user's XDG config directory. Every read goes
// to the file and every write reaches it at once. Where no secret store keeps the password
// (StoredPassword), the file holds it in plain text, so only its owner may read it.
class SettingsStore {
 public:
  explicit SettingsStore(QString application = QStringLiteral("Orvanta"),
                         QString section = QStringLiteral("Klarifeld"));

  // The stored text, or `defaultValue` when the key is absent; an empty text is present.
  QString read(const QString& key, const QString& defaultValue) const;
  // Throws std::runtime_error when the file cannot be written.
  void write(const QString& key, const QString& value) const;
  bool contains(const QString& key) const;
  // Throws std::runtime_error when the file cannot be written.
  void remove(const QString& key) const;

  QString filePath() const;

 private:
  void change(const std::function<void(QSettings&)>& edit) const;

  QString application_;
  QString section_;
};
