#pragma once

#include <QStringList>
#include <QTimer>
#include <atomic>
#include <deque>
#include <functional>
#include <optional>

#include "Dialogs.h"
#include "ListView.h"
#include "RunProgress.h"
#include "WindowPointer.h"

// What the run's windows are on a terminal.

// Boxes become lines on stderr; questions take the answers given on the command line,
// then ask on the terminal when there is one.
class TerminalDialogs : public Dialogs {
 public:
  explicit TerminalDialogs(const QStringList& answers);

  void showMessage(const QString& text, const QString& title, BoxIcon icon) override;
  QString askInput(const QString& prompt, const QString& title) override;
  ReportAnswer showMessageOfferingStop(const QString& text, const QString& title,
                                       BoxIcon icon) override;
  bool askYesNo(const QString& question) override;
  QString chooseFile(const QString& title, const QString& filter) override;
  QString chooseNewFile(const QString& title, const QString& filter) override;

  // Each report of a record printed, not only the first ones (--all-reports).
  void printEveryReport() { reportsPrinted_ = -1; }
  int messagesShown() const { return messages_; }
  // The first question that came with no answer to give.
  const std::optional<QString>& missingAnswer() const { return missingAnswer_; }

 private:
  std::deque<QString> answers_;
  int messages_ = 0;
  int reportsPrinted_ = 0;  // -1: every report is printed
  std::optional<QString> missingAnswer_;
};

// A list held in memory.
class TextList : public ListView {
 public:
  void addItem(const QString& text) override;
  void clear() override { items_.clear(), selected_ = -1; }
  int count() const override { return int(items_.size()); }
  int selectedIndex() const override { return selected_; }
  QString selectedText() const override;
  QString text(int index) const override { return items_.value(index); }
  void select(int index) { selected_ = index; }
  const QStringList& items() const { return items_; }

 private:
  QStringList items_;
  int selected_ = -1;
};

// While it lives, Ctrl+C calls `stop` once, from the event loop: a long statement on the
// server is ended there rather than left running after the program.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> stop);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;
  bool interrupted() const { return stopped_; }

 private:
  std::function<void()> stop_;
  bool stopped_ = false;
  QTimer timer_;
};

// The run's progress on stderr while it is a terminal, its summary on stdout; Ctrl+C
// stops it after the current record, as "Stop" does.
class TerminalProgress : public RunWatcher {
 public:
  TerminalProgress();
  void runStarted(const RunDescription& run, const RunProgress& progress,
                  std::function<void()> stop) override;
  void runEnded(const RunSummary& summary) override;
  const std::optional<RunSummary>& summary() const { return summary_; }

 private:
  void tick();

  const RunProgress* progress_ = nullptr;
  std::optional<InterruptWatch> interrupt_;  // while the run goes on
  QTimer timer_;
  qint64 startedAt_ = 0;
  std::optional<RunSummary> summary_;
};

bool IsTerminal(int fileDescriptor);
// Asks on the terminal without echoing what is typed.
QString AskSecretly(const QString& prompt);
