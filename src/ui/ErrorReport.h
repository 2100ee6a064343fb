#pragma once

#include <QString>

#include "Dialogs.h"

inline const QString SupportAddress = QStringLiteral("support@orvanta.example");

// The text of the report on an unexpected failure of a procedure: the failure's
// description, then where it happened, then the request for a screenshot.
// `locationTag` is the procedure's tag, such as "Klarifeld2021/08/31.Form1.Form_Load".
// `subject`, when given, names what the failure is about (a record) in a paragraph of its
// own at the end.
QString ErrorReportText(const QString& description, const QString& locationTag, int line,
                        const QString& subject = {});

// Shows the report titled "Application Error", with the warning icon and OK only.
void ShowErrorReport(Dialogs& dialogs, const QString& description, const QString& locationTag,
                     int line);

// The same report with "Stop Run" and "Report the Rest in the Summary" beside OK, for
// failures while a run goes through its records.
ReportAnswer ShowErrorReportOfferingStop(Dialogs& dialogs, const QString& description,
                                         const QString& locationTag, int line,
                                         const QString& subject = {});
