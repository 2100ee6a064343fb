#include "Dialogs.h"

namespace {
constexpr qsizetype LongestTitle = 40;
}  // namespace

QString ApplicationTitleOf(const QString& fullDisplayName) {
  QString title = fullDisplayName;
  do {
    const qsizetype lastBlank = title.lastIndexOf(u' ');
    if (lastBlank < 0) break;
    title.truncate(lastBlank);
  } while (title.size() > LongestTitle);
  return title;
}

void SetApplicationTitle(Dialogs& dialogs) {
  dialogs.setApplicationTitle(ApplicationTitleOf(FullDisplayName));
}
