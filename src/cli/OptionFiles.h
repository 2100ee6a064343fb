#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// One "key" or "key = value" line of an option file, the key with "_" read as "-" and
// without a "loose-" prefix.
struct OptionSetting {
  QString key;
  std::optional<QString> value;  // none for a bare key
  QString file;                  // where it was read, for messages
};

// The settings of the groups that klarifeld-clean reads, in the order they stand:
// [client], [client-server], [client-mariadb] and [klarifeld-clean]. "!include" lines are
// not followed.
std::vector<OptionSetting> ReadOptionFileText(const QByteArray& text, const QString& file = {});

// Which option files are read.
struct OptionFileChoice {
  bool none = false;  // --no-defaults
  QString only;       // --defaults-file: this one instead of ~/.my.cnf
  QString extra;      // --defaults-extra-file: this one before ~/.my.cnf
};

// The settings of the chosen files in the order read, so that a later one overrides an
// earlier one. A file the user named that cannot be read sets `error`; a file that every
// user may change is skipped, with a warning, as the standard clients do.
std::vector<OptionSetting> ReadOptionFiles(const OptionFileChoice& choice, QStringList& warnings,
                                           QString& error);
