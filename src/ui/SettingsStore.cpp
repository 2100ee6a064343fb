#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <stdexcept>
#include <utility>

namespace {
constexpr auto OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Created before the first write with the owner's rights only; the rewrites keep them.
void createPrivately(const QString& path) {
  if (QFileInfo::exists(path)) return;
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || !file.setPermissions(OwnerOnly)) {
    throw std::runtime_error("Cannot create the settings file " + path.toStdString() + ": " +
                             file.errorString().toStdString());
  }
}
}  // namespace

SettingsStore::SettingsStore(QString application, QString section)
    : application_(std::move(application)), section_(std::move(section)) {}

QString SettingsStore::filePath() const {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' +
         application_ + QStringLiteral(".ini");
}

QString SettingsStore::read(const QString& key, const QString& defaultValue) const {
  const QSettings settings(filePath(), QSettings::IniFormat);
  return settings.value(section_ + u'/' + key, defaultValue).toString();
}

bool SettingsStore::contains(const QString& key) const {
  const QSettings settings(filePath(), QSettings::IniFormat);
  return settings.contains(section_ + u'/' + key);
}

void SettingsStore::write(const QString& key, const QString& value) const {
  change([&](QSettings& settings) { settings.setValue(section_ + u'/' + key, value); });
}

void SettingsStore::remove(const QString& key) const {
  if (contains(key)) change([&](QSettings& settings) { settings.remove(section_ + u'/' + key); });
}

void SettingsStore::change(const std::function<void(QSettings&)>& edit) const {
  const QString path = filePath();
  createPrivately(path);
  QSettings settings(path, QSettings::IniFormat);
  edit(settings);
  settings.sync();
  if (settings.status() != QSettings::NoError) {
    throw std::runtime_error("Cannot write the settings file " + path.toStdString());
  }
  QFile::setPermissions(path, OwnerOnly);
}
