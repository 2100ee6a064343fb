#pragma once

#include <QObject>

#include "Dialogs.h"

// Dialogs for a worker thread: each box is shown by the thread that made this object
// (the window thread), while the worker waits for the answer. That thread must keep
// serving its events meanwhile.
class WindowThreadDialogs : public Dialogs {
 public:
  explicit WindowThreadDialogs(Dialogs& shown);

  void showMessage(const QString& text, const QString& title, BoxIcon icon) override;
  QString askInput(const QString& prompt, const QString& title) override;
  ReportAnswer showMessageOfferingStop(const QString& text, const QString& title,
                                       BoxIcon icon) override;
  bool askYesNo(const QString& question) override;
  QString chooseFile(const QString& title, const QString& filter) override;
  QString chooseNewFile(const QString& title, const QString& filter) override;

 private:
  template <class Box>
  auto onWindowThread(Box&& box);

  Dialogs& shown_;
  QObject windowThread_;
};
