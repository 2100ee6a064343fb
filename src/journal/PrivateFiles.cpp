#include "PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "Journal.h"

namespace {

[[noreturn]] void refuse(const QString& path, const char* why) {
  throw JournalError(QStringLiteral("journal: %1 %2, so the journal is not kept there")
                         .arg(path, QLatin1String(why))
                         .toStdString());
}

}  // namespace

// A folder of the user's alone: made 0700 when missing; one that is a link, belongs to
// another user or that others may write to is refused, since they could put files of
// their choosing in the journal's place.
void RequirePrivateFolder(const QString& folder) {
  const QByteArray name = QFile::encodeName(folder);
  if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
    if (errno != ENOENT) refuse(folder, "cannot be made");
    RequirePrivateFolder(QFileInfo(folder).absolutePath());
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) refuse(folder, "cannot be made");
  }
  struct stat status {};
  if (::lstat(name.constData(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    refuse(folder, "is not a folder (or is a link to one)");
  }
  if (status.st_uid != ::geteuid()) refuse(folder, "belongs to another user");
  if (status.st_mode & (S_IWGRP | S_IWOTH)) refuse(folder, "can be written by other users");
}

// Opens `path` in a private folder without following a link, as a file of the user's
// alone (0600): it holds the user's data.
int OpenPrivately(const QString& path, int flags) {
  const int file =
      ::open(QFile::encodeName(path).constData(), flags | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file < 0) refuse(path, errno == ELOOP ? "is a link" : "cannot be opened");
  struct stat status {};
  const bool yours =
      ::fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
  if (!yours || ((status.st_mode & 077) && ::fchmod(file, 0600) != 0)) {
    ::close(file);
    refuse(path, yours ? "cannot be made private" : "is not a file of yours");
  }
  return file;
}

// Made readable by the user only, before the library opens it.
void CreatePrivately(const QString& path) {
  RequirePrivateFolder(QFileInfo(path).absolutePath());
  ::close(OpenPrivately(path, O_WRONLY));
}
