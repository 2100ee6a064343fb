#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>

enum class BoxIcon { None, Warning };

// The button that closed a box offering "Stop Run" and "Report the Rest in the Summary"
// beside OK.
enum class ReportAnswer { Ok, StopRun, ReportRest };

// A pattern and its replacement, asked together where a window can: checked as they are
// typed and tried on samples of the field.
struct PatternQuestion {
  QString patternPrompt;
  QString replacementPrompt;
  QStringList samples = {};
  // What is wrong with the answers, in the library's words; empty when nothing is.
  std::function<QString(const QString& pattern, const QString& replacement)> problem = {};
  // What the answers make of a sample; throws what the operation throws.
  std::function<QString(const QString& sample, const QString& pattern, const QString& replacement)>
      apply = {};
};

// Message boxes and input boxes. Handed to whoever needs them, so that tests can
// answer the prompts and read every box the program showed.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Shows a box with an OK button only and returns when it is pressed.
  virtual void showMessage(const QString& text, const QString& title, BoxIcon icon) = 0;
  // Returns the typed text, or the empty text when the box is cancelled or closed.
  virtual QString askInput(const QString& prompt, const QString& title) = 0;
  // A box with OK, the default, and "Stop Run" and "Report the Rest in the Summary"
  // beside it.
  virtual ReportAnswer showMessageOfferingStop(const QString& text, const QString& title,
                                               BoxIcon icon) = 0;
  // A question with Yes and No, titled with the application title; true for Yes.
  virtual bool askYesNo(const QString& question) = 0;
  // A file picker for one existing file; the empty text when it is cancelled.
  virtual QString chooseFile(const QString& title, const QString& filter) = 0;
  // A file picker for a file to write, new or not; the empty text when it is cancelled.
  virtual QString chooseNewFile(const QString& title, const QString& filter) = 0;
  // An input box that starts with `text`, to be changed; nothing when it is cancelled or
  // closed, the empty text when OK takes an emptied box. Where a box cannot start with a
  // text or tell a cancel apart (a terminal), the empty answer is the cancel.
  virtual std::optional<QString> editText(const QString& prompt, const QString& text) {
    Q_UNUSED(text);
    QString typed = input(prompt);
    if (typed.isEmpty()) return std::nullopt;
    return typed;
  }
  // The pattern and its replacement; an empty pattern when cancelled. Unless a window asks
  // both at once, two input boxes in turn, as a terminal takes its answers.
  virtual std::pair<QString, QString> askPattern(const PatternQuestion& question) {
    QString pattern = input(question.patternPrompt);
    return {pattern, input(question.replacementPrompt)};
  }

  // The program's own boxes carry the application title and no icon.
  void message(const QString& text) { showMessage(text, applicationTitle_, BoxIcon::None); }
  QString input(const QString& prompt) { return askInput(prompt, applicationTitle_); }

  const QString& applicationTitle() const { return applicationTitle_; }
  void setApplicationTitle(const QString& title) { applicationTitle_ = title; }

 private:
  QString applicationTitle_;
};

// The product's full display name: the login window's caption and the title's source.
inline const QString FullDisplayName = QStringLiteral("Klarifeld");

// The full name cut at its last blank, then again while it is longer than 40
// characters. A name without a blank stays whole.
QString ApplicationTitleOf(const QString& fullDisplayName);

void SetApplicationTitle(Dialogs& dialogs);
