#pragma once

#include <QStringList>

#include "Dialogs.h"

// The given answers to the first questions asked, in order; every other box, and every
// question beyond them, goes to `dialogs`.
class PresetAnswers : public Dialogs {
 public:
  PresetAnswers(Dialogs& dialogs, QStringList answers)
      : dialogs_(dialogs), answers_(std::move(answers)) {
    setApplicationTitle(dialogs.applicationTitle());
  }

  void showMessage(const QString& text, const QString& title, BoxIcon icon) override {
    dialogs_.showMessage(text, title, icon);
  }
  QString askInput(const QString& prompt, const QString& title) override {
    if (!answers_.isEmpty()) return answers_.takeFirst();
    return dialogs_.askInput(prompt, title);
  }
  ReportAnswer showMessageOfferingStop(const QString& text, const QString& title,
                                       BoxIcon icon) override {
    return dialogs_.showMessageOfferingStop(text, title, icon);
  }
  bool askYesNo(const QString& question) override { return dialogs_.askYesNo(question); }
  QString chooseFile(const QString& title, const QString& filter) override {
    return dialogs_.chooseFile(title, filter);
  }
  QString chooseNewFile(const QString& title, const QString& filter) override {
    return dialogs_.chooseNewFile(title, filter);
  }

 private:
  Dialogs& dialogs_;
  QStringList answers_;
};
