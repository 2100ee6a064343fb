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

  // From now on each report also offers "Stop Run", and pressing it calls `onStop`, and
  // "Report the Rest in the Summary": from then on each failure goes to `collect`
  // instead of a box, with its description and subject.
  using Collector = std::function<void(const QString& description, const QString& subject)>;
  void offerStop(std::function<void()> onStop, Collector collect) {
    onStop_ = std::move(onStop);
    collect_ = std::move(collect);
  }
  // Failures go to the collector from now on, as if the user had asked for it.
  void collectTheRest() { collecting_ = true; }
  // What the reports made from now on are about ("Record 12 (id = 5)."); asked only when
  // a report is made.
  void setSubject(std::function<QString()> subject) { subject_ = std::move(subject); }
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
  Collector collect_;
  bool collecting_ = false;
  std::function<QString()> subject_;
  int reports_ = 0;
};

// The description that the failing component gave to the exception in flight.
QString DescriptionOfCurrentFailure();
