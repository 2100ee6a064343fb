#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "Dialogs.h"

struct ShownBox {
  enum class Kind { Message, Input };
  Kind kind;
  QString title;
  QString text;  // the message, or the prompt of an input box
  BoxIcon icon;
  friend bool operator==(const ShownBox&, const ShownBox&) = default;
};

// Dialogs that answer input boxes from a queue (the empty text, as a cancel, once it
// is exhausted) and record every box shown.
class ScriptedDialogs : public Dialogs {
 public:
  void showMessage(const QString& text, const QString& title, BoxIcon icon) override;
  QString askInput(const QString& prompt, const QString& title) override;

  void queueAnswers(const QStringList& answers);
  // Runs as each input box is answered: lets a test act while the program waits.
  std::function<void(const QString& prompt)> onInput;

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
