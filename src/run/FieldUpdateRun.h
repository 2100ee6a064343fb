#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "OperationCatalogue.h"
#include "ReportingProcedure.h"
#include "TableBrowser.h"

class Connection;
class Dialogs;
class RecordSet;
class WindowPointer;

// One run of "Start Removing": the operation named by `operationCaption` applied to the
// selected field of every record of the selected table, each changed value written back,
// then the preview refilled. Reports each failing step with its line and goes on; the
// pointer ends as the default once the run got past the test for a field.
class FieldUpdateRun {
 public:
  FieldUpdateRun(const BrowserLists& lists, QString operationCaption, QString connectionString,
                 WindowPointer& pointer, Dialogs& dialogs);
  ~FieldUpdateRun();

  void run();

 private:
  void openTable();
  bool fieldListMatchesTable();
  void applyOperation(const CleaningOperation& operation);
  std::optional<Answers> askAnswers(const CleaningOperation& operation);
  void updateRecords(const CleaningOperation& operation, const Answers& answers);
  void updateRecord(const CleaningOperation& operation, const Answers& answers, int loopLine);
  void refillPreview();
  int fieldPosition() const;

  BrowserLists lists_;
  QString operationCaption_;
  QString connectionString_;
  WindowPointer& pointer_;
  Dialogs& dialogs_;
  ReportingProcedure steps_;

  std::unique_ptr<Connection> connection_;
  std::unique_ptr<RecordSet> records_;
  qint32 lastRecordIndex_ = 0;
};
