#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include "RowChange.h"

// The spool file of a run under way: a header, then a record for each entry (its frame as
// the journal's database keeps it: its length, then the packed identity, old and new
// values) and for each settlement of the entries since the last one (how they settled and,
// for a lone entry, the value its row holds). Each record carries its length and a CRC-32,
// so that a damaged stretch is told from an intact record, and the records after it are
// still found.
namespace SpoolFormat {

QByteArray header();
// Each of `frames` (entry frames, one after another) as a record.
QByteArray entryRecords(QByteArrayView frames);
// A settlement's packed parts as a record.
QByteArray settlementRecord(QByteArrayView parts);

}  // namespace SpoolFormat

struct SpoolFrame {
  bool settlement = false;
  bool end = true;
  // Some of the file before this frame could not be read: what it told is lost.
  bool afterDamage = false;
  QByteArray frame;  // an entry's, as the journal's database keeps it
  RowValues parts;   // a settlement's
};

// Reads the records of a spool file one by one. A last record cut short (its write never
// finished, so what it tells of was never written either) is left out; a damaged one is
// skipped to the next intact record. Spool files of older versions have no header, no
// checks, and end at their first damage.
class SpoolReader {
 public:
  explicit SpoolReader(const QString& path);
  SpoolFrame next();
  // Whether any of the file could not be read.
  bool damaged() const { return damaged_; }

 private:
  SpoolFrame nextChecked();
  SpoolFrame nextUnchecked();
  // The record at `at`, when it is whole and intact.
  bool recordAt(qsizetype at, SpoolFrame& frame, qsizetype& length) const;

  QFile file_;
  QByteArrayView bytes_;
  qsizetype at_ = 0;
  bool checked_ = false;
  bool damaged_ = false;
};
