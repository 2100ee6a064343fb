#include "ScriptedDialogs.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdlib>

namespace {
// Boxes belong to the window thread; one asked for from a worker is a fault to catch loudly.
void requireWindowThread() {
  const QCoreApplication* application = QCoreApplication::instance();
  if (application && QThread::currentThread() != application->thread()) std::abort();
}
}  // namespace

void ScriptedDialogs::showMessage(const QString& text, const QString& title, BoxIcon icon) {
  requireWindowThread();
  shown_.push_back({ShownBox::Kind::Message, title, text, icon});
  if (onMessage) onMessage(text);
}

ReportAnswer ScriptedDialogs::showMessageOfferingStop(const QString& text, const QString& title,
                                                      BoxIcon icon) {
  requireWindowThread();
  shown_.push_back({ShownBox::Kind::Message, title, text, icon, true});
  if (onMessage) onMessage(text);
  return reportAnswer;
}

bool ScriptedDialogs::askYesNo(const QString& question) {
  shown_.push_back({ShownBox::Kind::Question, applicationTitle(), question, BoxIcon::None});
  return yes;
}

QString ScriptedDialogs::askInput(const QString& prompt, const QString& title) {
  requireWindowThread();
  shown_.push_back({ShownBox::Kind::Input, title, prompt, BoxIcon::None});
  if (onInput) onInput(prompt);
  if (answers_.empty()) return QString();
  QString answer = answers_.front();
  answers_.pop_front();
  return answer;
}

std::optional<QString> ScriptedDialogs::editText(const QString& prompt, const QString& text) {
  requireWindowThread();
  shown_.push_back({ShownBox::Kind::Input, applicationTitle(), prompt, BoxIcon::None});
  lastStartText = text;
  if (onInput) onInput(prompt);
  if (answers_.empty()) return std::nullopt;
  QString answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void ScriptedDialogs::queueAnswers(const QStringList& answers) {
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

namespace {
QStringList textsOf(const std::vector<ShownBox>& boxes, ShownBox::Kind kind) {
  QStringList texts;
  for (const ShownBox& box : boxes) {
    if (box.kind == kind) texts << box.text;
  }
  return texts;
}
}  // namespace

QStringList ScriptedDialogs::messages() const {
  return textsOf(shown_, ShownBox::Kind::Message);
}

QStringList ScriptedDialogs::prompts() const {
  return textsOf(shown_, ShownBox::Kind::Input);
}

QString ScriptedDialogs::chooseFile(const QString& title, const QString& /*filter*/) {
  filePickers << title;
  return chosenFile;
}
