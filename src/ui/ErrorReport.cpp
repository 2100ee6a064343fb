#include "ErrorReport.h"

#include "Dialogs.h"

QString ErrorReportText(const QString& description, const QString& locationTag, int line,
                        const QString& subject) {
  QString text = description + QStringLiteral("\r\n") + QStringLiteral("in ") + locationTag +
                 QStringLiteral(" at line ") + QString::number(line) + QStringLiteral("\r\r") +
                 QStringLiteral("Please email screenshot of this message to ") + SupportAddress;
  if (!subject.isEmpty()) text += QStringLiteral("\r\r") + subject;
  return text;
}

namespace {
const QString ReportTitle = QStringLiteral("Application Error");
}  // namespace

void ShowErrorReport(Dialogs& dialogs, const QString& description, const QString& locationTag,
                     int line) {
  dialogs.showMessage(ErrorReportText(description, locationTag, line), ReportTitle,
                      BoxIcon::Warning);
}

ReportAnswer ShowErrorReportOfferingStop(Dialogs& dialogs, const QString& description,
                                         const QString& locationTag, int line,
                                         const QString& subject) {
  return dialogs.showMessageOfferingStop(ErrorReportText(description, locationTag, line, subject),
                                         ReportTitle, BoxIcon::Warning);
}
