#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "ByteArena.h"
#include "Engine.h"
#include "OperationCatalogue.h"
#include "RecordSet.h"
#include "RewriteRun.h"
#include "RowChange.h"
#include "RunProgress.h"

struct PreviewFailure {
  QString reason;  // as the run would report it
  qint64 records = 0;
};

struct PreviewCounts {
  qint64 read = 0;
  qint64 changing = 0;
  qint64 unchanged = 0;
  qint64 nulls = 0;    // never written
  qint64 failing = 0;  // no new value could be computed
  qint64 tooLong = 0;  // would change, but longer than the column holds
  std::vector<PreviewFailure> failures;
};

// Every record that a run would change, with its value before and after, computed by the
// same rule as the run and written by nothing. The values are kept packed, as bytes, so
// that a million changes take about the room of their values.
class Connection;
class RecordSet;
struct FieldInfo;

class ChangePreview {
 public:
  struct Entry {
    QString key;  // the key's values, or the record's position for a table without a key
    QString before;
    QString after;
    bool tooLong = false;
  };

  ChangePreview(RunDescription description, RewriteTarget target, bool binary);

  // `identity` packed as PackedValues packs it.
  void add(qint64 position, QByteArrayView identity, QByteArrayView before, QByteArrayView after,
           bool tooLong);
  // Keeps no more than `entries` changes: once that many are kept, `drain` is handed them
  // and they go, so that a preview read only to be printed takes the same memory however
  // many records change. The counts stay whole.
  void drainEvery(qsizetype entries, std::function<void(const ChangePreview&)> drain);
  // Hands the changes still kept to the drain, once the records have ended.
  void drainRest();
  // Lets the changes kept go, once they are written; the counts stay.
  void dropKept();
  void countFailure(const QString& reason);

  qsizetype size() const { return qsizetype(entries_.size()); }
  Entry entry(qsizetype i) const;
  // The entry with its key and mark only, for readers of the bytes.
  Entry keyOnly(qsizetype i) const;
  bool tooLong(qsizetype i) const { return entries_[std::size_t(i)].tooLong; }
  // The values as stored: UTF-8 for text, one byte a character for a binary field.
  QByteArrayView beforeBytes(qsizetype i) const;
  QByteArrayView afterBytes(qsizetype i) const;
  bool binary() const { return binary_; }
  // The key's bytes when the key is one column and not null.
  std::optional<QByteArrayView> singleKeyBytes(qsizetype i) const;
  // Whether the value before or after holds `text`.
  bool contains(qsizetype i, const QString& text) const;
  // The change as a rewrite of the run's `part`.
  Rewrite rewrite(qsizetype i, std::size_t part = 0) const;
  // Where the change's record came in the reading.
  qint64 position(qsizetype i) const { return entries_[std::size_t(i)].position; }
  // A change the user took out before Apply: Apply leaves its record as it is.
  void leaveOut(qsizetype i, bool out);
  bool leftOut(qsizetype i) const { return entries_[std::size_t(i)].leftOut; }
  // The changes that Apply writes.
  qsizetype chosen() const { return size() - leftOut_; }

  PreviewCounts counts;
  const RunDescription& description() const { return description_; }
  const RewriteTarget& target() const { return target_; }

 private:
  struct Stored {
    const char* data;  // the packed identity, then before, then after
    quint32 identityLength;
    quint32 beforeLength;
    quint32 afterLength;
    bool tooLong;
    qint64 position;
    bool leftOut = false;
  };
  QString decoded(const char* data, quint32 length) const;

  RunDescription description_;
  RewriteTarget target_;
  bool binary_;
  std::vector<Stored> entries_;
  qsizetype leftOut_ = 0;
  ByteArena arena_;
  qsizetype drainAt_ = 0;  // 0: every change is kept
  std::function<void(const ChangePreview&)> drain_;
};

// What a run of several fields would change: one preview a field.
using ChangePreviews = std::vector<std::unique_ptr<ChangePreview>>;
// Shown each preview before it fills: to drain it as it goes, say.
using PreviewSetup = std::function<void(ChangePreview& preview)>;

// What a field's value becomes; throws what a run would report.
using NewValueRule = std::function<QString(const FieldValue& stored)>;
// Keeps in `preview` what the rule makes of the current record's `field`, as a run would
// write it: a change, or only its count. The change finds its row by `identity` when given
// (the row as earlier writes will have left it), else by the record as read. The bytes it
// would write, when it changes the record.
std::optional<QByteArray> PreviewRecord(ChangePreview& preview, RecordSet& records, int field,
                                        qint64 position, const NewValueRule& newValueOf,
                                        const ColumnLimits& limits,
                                        const RowValues* identity = nullptr);

// Goes through every record of `records` from the current one, as a run would, and keeps
// each change in `preview`.
void ComputePreview(ChangePreview& preview, RecordSet& records, int field,
                    const CleaningOperation& operation, const Answers& answers,
                    const ColumnLimits& limits);

// Writes exactly the previewed changes, where each record still holds the value the
// preview read; the others are left and counted as changed since the preview.
void ApplyPreview(const ChangePreview& preview, RewriteRun& rewrites);

// "1,000,000 records read: 500,000 would change, ..."
QString PreviewCountsText(const ChangePreview& preview);
