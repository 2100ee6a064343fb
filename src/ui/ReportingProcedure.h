#pragma once

#include <QString>
#include <functional>
#include <utility>

class Dialogs;

// Runs the numbered statements of a procedure that reports its failures: a statement
// that throws is reported with the procedure's location tag and the statement's line
// number, and the procedure goes on with the next statement.
//
//   ReportingProcedure run(dialogs, "Klarifeld2021/08/31.Form1.Form_Load");
//   run.step(100, [&] { ApplySkin(); });
//   if (run.test(124, [&] { return FileExists(path); })) run.step(126, [&] { ... });
class ReportingProcedure {
 public:
  ReportingProcedure(Dialogs& dialogs, QString locationTag)
      : dialogs_(dialogs), locationTag_(std::move(locationTag)) {}

  template <class Statement>
  void step(int line, Statement&& statement) {
    try {
      std::forward<Statement>(statement)();
    } catch (...) {
      reportCurrentFailure(line);
    }
  }

  // From now on each report also offers "Stop Run"; pressing it calls `onStop`.
  void offerStop(std::function<void()> onStop) { onStop_ = std::move(onStop); }
  // The reports shown so far.
  int reports() const { return reports_; }

  // A condition whose test fails goes on into the block that it guards.
  template <class Condition>
  bool test(int line, Condition&& condition) {
    try {
      return std::forward<Condition>(condition)();
    } catch (...) {
      reportCurrentFailure(line);
      return true;
    }
  }

 private:
  void reportCurrentFailure(int line);

  Dialogs& dialogs_;
  QString locationTag_;
  std::function<void()> onStop_;
  int reports_ = 0;
};

// The description that the failing component gave to the exception in flight.
QString DescriptionOfCurrentFailure();
