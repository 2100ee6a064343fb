#pragma once

#include "Dialogs.h"

// The dialogs as Qt shows them, over whichever window is active.
class QtDialogs : public Dialogs {
 public:
  void showMessage(const QString& text, const QString& title, BoxIcon icon) override;
  QString askInput(const QString& prompt, const QString& title) override;
  std::optional<QString> editText(const QString& prompt, const QString& text) override;
  ReportAnswer showMessageOfferingStop(const QString& text, const QString& title,
                                       BoxIcon icon) override;
  bool askYesNo(const QString& question) override;
  QString chooseFile(const QString& title, const QString& filter) override;
  QString chooseNewFile(const QString& title, const QString& filter) override;
  std::pair<QString, QString> askPattern(const PatternQuestion& question) override;

 private:
  QString pickFile(const QString& title, const QString& filter, int acceptMode);
  QString lastFolder_;
};

// "json" of "Klarifeld recipes (*.json);;All files (*)": what a name typed bare gets.
QString FirstSuffixOf(const QString& filter);

// A text as a box shows it: CR, LF and CR LF each become one line break.
QString DisplayedText(const QString& text);
