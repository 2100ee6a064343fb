#pragma once

#include <QString>
#include <QTemporaryFile>
#include <memory>
#include <vector>

#include "ChangePreview.h"

// A dry run's changes, printed as they are computed, so that its memory stays the same
// however many records change. JSON goes out at once; the text form's changes wait in a
// spool file (private to the user) until the counts that come first are known.

// How many changes a dry run holds before it prints them.
constexpr qsizetype PrintedBatch = 10000;

// The changes of one preview.
class StreamedChanges {
 public:
  // `named`: each change names its table and field, as one field of several; their changes
  // wait in spools too, so that each field's come together.
  explicit StreamedChanges(bool json, bool named = false);
  void drain(const ChangePreview& batch);
  // Once every change was drained: why they could not all be printed, or empty.
  QString finish(const ChangePreview& preview);

 private:
  bool json_, named_, spooled_;
  QTemporaryFile spool_;
  bool failed_ = false;
};

// The changes of previews made one after another (a recipe's fields, an undo's parts), each
// printed as it goes; with `named`, each change names its table and field.
class StreamedPreviews {
 public:
  StreamedPreviews(bool json, bool named) : json_(json), named_(named) {}
  // For each preview as it begins: its changes are printed as they come.
  PreviewSetup setUp();
  // Once the previews are filled: why their changes could not all be printed, or empty.
  QString finish(const ChangePreviews& previews);

 private:
  bool json_, named_;
  std::vector<std::unique_ptr<StreamedChanges>> printed_;
};

// Whether any of them holds a value that cannot be computed.
bool AnyFailing(const ChangePreviews& previews);
