#include "Terminal.h"

#include "CommandSupport.h"
#include "VisibleText.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QDateTime>
#include <QTextStream>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

std::atomic<bool> interruptSignalled = false;

void onInterrupt(int) {
  interruptSignalled = true;
}

QString lineOf(QString text) {
  return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
}

void printError(const QString& text) {
  Fail(lineOf(text));
}

std::optional<QString> readLine() {
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return QString::fromStdString(line);
}

}  // namespace

bool IsTerminal(int fileDescriptor) {
  return ::isatty(fileDescriptor) != 0;
}

namespace {

// The terminal as it was before a prompt turned echo off, put back by a signal that ends
// the program at the prompt.
termios savedTerminal{};

extern "C" void restoreTerminalAndEnd(int signal) {
  ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

QString AskSecretly(const QString& prompt) {
  const bool terminal = ::tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
  using Handler = void (*)(int);
  // Every signal that ends the program at a prompt: Ctrl+C, Ctrl+\, a closed terminal, kill.
  constexpr int Ending[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
  Handler before[std::size(Ending)] = {};
  if (terminal) {
    for (std::size_t i = 0; i < std::size(Ending); ++i) {
      before[i] = ::signal(Ending[i], restoreTerminalAndEnd);
    }
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  // Only now: what is typed as soon as the prompt shows must not be echoed.
  std::cerr << prompt.toStdString() << std::flush;
  const std::optional<QString> typed = readLine();
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    for (std::size_t i = 0; i < std::size(Ending); ++i) ::signal(Ending[i], before[i]);
  }
  std::cerr << std::endl;
  return typed.value_or(QString());
}

TerminalDialogs::TerminalDialogs(const QStringList& answers)
    : answers_(answers.begin(), answers.end()) {}

void TerminalDialogs::showMessage(const QString& text, const QString&, BoxIcon) {
  ++messages_;
  printError(text);
}

QString TerminalDialogs::askInput(const QString& prompt, const QString&) {
  if (!answers_.empty()) {
    const QString answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  if (IsTerminal(STDIN_FILENO)) {
    std::cerr << prompt.toStdString() << ' ' << std::flush;
    return readLine().value_or(QString());
  }
  if (!missingAnswer_) missingAnswer_ = prompt;
  return {};
}

// Past the first reports of a run, the rest go into the summary, counted: two runs that
// meet each other's rows would otherwise flood the terminal.
ReportAnswer TerminalDialogs::showMessageOfferingStop(const QString& text, const QString& title,
                                                      BoxIcon icon) {
  constexpr int FirstReports = 10;
  showMessage(text, title, icon);
  if (reportsPrinted_ < 0 || ++reportsPrinted_ < FirstReports) return ReportAnswer::Ok;
  printError(
      QStringLiteral("The rest of the reports are counted in the summary; "
                     "--all-reports prints each."));
  return ReportAnswer::ReportRest;
}

bool TerminalDialogs::askYesNo(const QString&) {
  return false;
}

QString TerminalDialogs::chooseFile(const QString&, const QString&) {
  return {};
}

QString TerminalDialogs::chooseNewFile(const QString&, const QString&) {
  return {};
}

void TextList::addItem(const QString& text) {
  items_ << text;
  if (selected_ < 0) selected_ = 0;
}

QString TextList::selectedText() const {
  if (selected_ < 0) throw std::runtime_error("Object variable or With block variable not set");
  return items_[selected_];
}

InterruptWatch::InterruptWatch(std::function<void()> stop) : stop_(std::move(stop)) {
  interruptSignalled = false;
  ::signal(SIGINT, onInterrupt);
  timer_.setInterval(100);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (!interruptSignalled || stopped_) return;
    stopped_ = true;
    if (stop_) stop_();
  });
  timer_.start();
}

InterruptWatch::~InterruptWatch() {
  ::signal(SIGINT, SIG_DFL);
}

TerminalProgress::TerminalProgress() {
  timer_.setInterval(250);
  QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
}

void TerminalProgress::runStarted(const RunDescription& run, const RunProgress& progress,
                                  std::function<void()> stop) {
  if (!run.note.isEmpty()) printError(run.note);
  progress_ = &progress;
  interrupt_.emplace(std::move(stop));
  startedAt_ = QDateTime::currentMSecsSinceEpoch();
  timer_.start();
}

void TerminalProgress::tick() {
  if (!progress_ || !IsTerminal(STDERR_FILENO)) return;
  const RunCounts counts = progress_->counts();
  const int width = 30;
  const int filled = counts.total > 0 ? int(counts.done * width / counts.total) : 0;
  const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - startedAt_;
  std::cerr << "\r[" << std::string(std::size_t(filled), '#')
            << std::string(std::size_t(width - filled), ' ') << "] "
            << ProgressText(counts).toStdString() << ", " << RateText(counts, elapsed).toStdString()
            << "\x1b[K" << std::flush;
}

void TerminalProgress::runEnded(const RunSummary& summary) {
  timer_.stop();
  tick();
  if (IsTerminal(STDERR_FILENO)) std::cerr << std::endl;
  interrupt_.reset();
  progress_ = nullptr;
  summary_ = summary;
  std::cout << WithControlMarks(SummaryText(summary)).toStdString() << std::endl;
}
