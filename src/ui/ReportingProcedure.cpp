#include "ReportingProcedure.h"

#include <exception>

#include "ErrorReport.h"

QString DescriptionOfCurrentFailure() {
  try {
    throw;
  } catch (const std::exception& failure) {
    return QString::fromUtf8(failure.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

void ReportingProcedure::reportCurrentFailure(int line) {
  const QString description = DescriptionOfCurrentFailure();
  ++reports_;
  // The report is itself the failure handling: a failure while showing it is not reported.
  try {
    if (!onStop_) {
      ShowErrorReport(dialogs_, description, locationTag_, line);
      return;
    }
    const QString subject = subject_ ? subject_() : QString();
    if (collecting_) {
      collect_(description, subject);
      return;
    }
    switch (ShowErrorReportOfferingStop(dialogs_, description, locationTag_, line, subject)) {
      case ReportAnswer::StopRun:
        onStop_();
        break;
      case ReportAnswer::ReportRest:
        collecting_ = true;
        break;
      case ReportAnswer::Ok:
        break;
    }
  } catch (...) {
  }
}
