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
    } else if (ShowErrorReportOfferingStop(dialogs_, description, locationTag_, line) ==
               ReportAnswer::StopRun) {
      onStop_();
    }
  } catch (...) {
  }
}
