#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QtGlobal>

// Every test runs without a display and in a UTF-8 locale, however it is started, and
// without the desktop's secret store (never the user's own), unless run beside a private
// one (tests/support/with-keyring).
inline void SetTestEnvironment() {
  if (qEnvironmentVariableIsEmpty("KLARIFELD_TEST_KEYRING")) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=/nonexistent/klarifeld-tests"));
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  qputenv("LANG", QByteArray("C.UTF-8"));
  qputenv("LC_ALL", QByteArray("C.UTF-8"));
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    const QString runtime = QDir::tempPath() + QStringLiteral("/klarifeld-tests-runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
  }
}
