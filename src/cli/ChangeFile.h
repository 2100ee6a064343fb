#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>

class ChangePreview;

// The changes of a `--dry-run --json` output, perhaps edited (lines taken out), to be
// written as they stand: each by its key, its value before and its value after.
class ChangeFile {
 public:
  // Nothing, with `problem` set, for a file that is not such an output.
  static std::optional<ChangeFile> read(const QString& path, QString& problem);

  // Unticks in `preview` every change the file does not hold; returns how many of the
  // file's changes the preview no longer makes (their rows changed since).
  qsizetype choose(ChangePreview& preview) const;
  qsizetype size() const { return size_; }

 private:
  QHash<QByteArray, qsizetype> changes_;  // each change, and how many times the file has it
  qsizetype size_ = 0;
};
