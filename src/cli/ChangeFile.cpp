#include "ChangeFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "ChangePreview.h"

namespace {

// One change as both sides spell it: key, before and after, apart.
QByteArray changeOf(const QByteArray& key, QByteArrayView before, QByteArrayView after) {
  return key + '\0' + before.toByteArray() + '\0' + after.toByteArray();
}

QByteArray changeOf(const ChangePreview& preview, qsizetype i) {
  // As a dry run prints it: a binary field's bytes as characters of their own.
  const ChangePreview::Entry entry = preview.binary() ? preview.entry(i) : preview.keyOnly(i);
  if (preview.binary()) {
    return changeOf(entry.key.toUtf8(), entry.before.toUtf8(), entry.after.toUtf8());
  }
  return changeOf(entry.key.toUtf8(), preview.beforeBytes(i), preview.afterBytes(i));
}

}  // namespace

std::optional<ChangeFile> ChangeFile::read(const QString& path, QString& problem) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    problem =
        QStringLiteral("The changes file '%1' cannot be read: %2.").arg(path, file.errorString());
    return std::nullopt;
  }
  ChangeFile read;
  for (qsizetype line = 1; !file.atEnd(); ++line) {
    const QByteArray text = file.readLine().trimmed();
    if (text.isEmpty()) continue;
    const QJsonObject change = QJsonDocument::fromJson(text).object();
    const QJsonValue key = change.value(QStringLiteral("key"));
    const QJsonValue before = change.value(QStringLiteral("before"));
    const QJsonValue after = change.value(QStringLiteral("after"));
    if (!key.isString() || !before.isString() || !after.isString()) {
      problem = QStringLiteral(
                    "Line %1 of '%2' is not a change as --dry-run --json prints it "
                    "(an object with \"key\", \"before\" and \"after\").")
                    .arg(line)
                    .arg(path);
      return std::nullopt;
    }
    ++read.changes_[changeOf(key.toString().toUtf8(), before.toString().toUtf8(),
                             after.toString().toUtf8())];
    ++read.size_;
  }
  return read;
}

qsizetype ChangeFile::choose(ChangePreview& preview) const {
  QHash<QByteArray, qsizetype> left = changes_;
  qsizetype found = 0;
  for (qsizetype i = 0; i < preview.size(); ++i) {
    const auto held = left.find(changeOf(preview, i));
    const bool chosen = held != left.end() && held.value() > 0;
    if (chosen) {
      --held.value();
      ++found;
    }
    preview.leaveOut(i, !chosen);
  }
  return size_ - found;
}
