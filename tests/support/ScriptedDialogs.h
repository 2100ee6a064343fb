#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "Dialogs.h"

struct ShownBox {
  enum class Kind { Message, Input, Question };
  Kind kind;
  QString title;
  QString text;  // the message, the prompt of an input box or the question
  BoxIcon icon;
  bool offersStopRun = false;
  friend bool operator==(const ShownBox&, const ShownBox&) = default;
};

// Dialogs that answer input boxes from a queue (the empty text, as a cancel, once it
// is exhausted), press OK or "Stop Run" as told, answer questions with `yes`, and record
// every box shown.
// File pickers return `chosenFile`.
class ScriptedDialogs : public Dialogs {
 public:
  void showMessage(const QString& text, const QString& title, BoxIcon icon) override;
  QString askInput(const QString& prompt, const QString& title) override;
  // Answered from the queue as any input box; a cancel once the queue is exhausted.
  std::optional<QString> editText(const QString& prompt, const QString& text) override;
  // What the last input box to edit started with.
  QString lastStartText;
  ReportAnswer showMessageOfferingStop(const QString& text, const QString& title,
                                       BoxIcon icon) override;
  bool askYesNo(const QString& question) override;
  QString chooseFile(const QString& title, const QString& filter) override;
  QString chooseNewFile(const QString& title, const QString& filter) override {
    return chooseFile(title, filter);
  }

  void queueAnswers(const QStringList& answers);
  // Runs as each input box is answered: lets a test act while the program waits.
  std::function<void(const QString& prompt)> onInput;
  // Runs as each message box is shown, before it is closed.
  std::function<void(const QString& text)> onMessage;
  // The button pressed in boxes that offer "Stop Run".
  ReportAnswer reportAnswer = ReportAnswer::Ok;
  // The answer to every question.
  bool yes = true;
  // The file that every file picker returns; the pickers' titles, in order.
  QString chosenFile;
  QStringList filePickers;

  const std::vector<ShownBox>& shown() const { return shown_; }
  // The texts of the message boxes, in order.
  QStringList messages() const;
  // The prompts of the input boxes, in order.
  QStringList prompts() const;
  void clear() { shown_.clear(); }

 private:
  std::deque<QString> answers_;
  std::vector<ShownBox> shown_;
};
