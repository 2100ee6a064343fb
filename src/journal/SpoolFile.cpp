#include "SpoolFile.h"

#include <zlib.h>

#include <cstring>

#include "Journal.h"

namespace {

constexpr char Header[] = "KLSPOOL2";
constexpr qsizetype HeaderSize = sizeof Header - 1;
constexpr quint32 EntryMark = 0x454E4B4C;       // "LKNE"
constexpr quint32 SettlementMark = 0x53544B4C;  // "LKTS"
// Records: the mark, the payload's length, the CRC-32 of both, then the payload.
constexpr qsizetype RecordHead = 3 * sizeof(quint32);
// Files of older versions: an entry's length, or this mark and then a settlement's length.
constexpr quint32 OldSettlementMark = 0xFFFFFFFF;

quint32 readWord(const char* at) {
  quint32 word = 0;
  std::memcpy(&word, at, sizeof word);
  return word;
}

void appendWord(QByteArray& bytes, quint32 word) {
  bytes.append(reinterpret_cast<const char*>(&word), sizeof word);
}

quint32 checksum(quint32 length, QByteArrayView payload) {
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(&length), sizeof length);
  return quint32(crc32(crc, reinterpret_cast<const Bytef*>(payload.data()), uInt(payload.size())));
}

void appendRecord(QByteArray& records, quint32 mark, QByteArrayView payload) {
  const quint32 length = quint32(payload.size());
  appendWord(records, mark);
  appendWord(records, length);
  appendWord(records, checksum(length, payload));
  records.append(payload);
}

}  // namespace

namespace SpoolFormat {

QByteArray header() {
  return QByteArray(Header, HeaderSize);
}

QByteArray entryRecords(QByteArrayView frames) {
  QByteArray records;
  records.reserve(frames.size() + frames.size() / 8 + 64);
  for (qsizetype at = 0; at + qsizetype(sizeof(quint32)) <= frames.size();) {
    const quint32 length = readWord(frames.data() + at);
    at += sizeof length;
    appendRecord(records, EntryMark, frames.sliced(at, length));
    at += length;
  }
  return records;
}

QByteArray settlementRecord(QByteArrayView parts) {
  QByteArray record;
  appendRecord(record, SettlementMark, parts);
  return record;
}

}  // namespace SpoolFormat

SpoolReader::SpoolReader(const QString& path) : file_(path) {
  if (!file_.open(QIODevice::ReadOnly)) throw JournalError("journal: cannot read a spool file");
  if (file_.size() > 0) {
    const uchar* mapped = file_.map(0, file_.size());
    if (!mapped) throw JournalError("journal: cannot read a spool file");
    bytes_ = QByteArrayView(reinterpret_cast<const char*>(mapped), file_.size());
  }
  checked_ = bytes_.startsWith(QByteArrayView(Header, HeaderSize));
  if (checked_) at_ = HeaderSize;
}

SpoolFrame SpoolReader::next() {
  return checked_ ? nextChecked() : nextUnchecked();
}

bool SpoolReader::recordAt(qsizetype at, SpoolFrame& frame, qsizetype& length) const {
  if (bytes_.size() - at < RecordHead) return false;
  const quint32 mark = readWord(bytes_.data() + at);
  if (mark != EntryMark && mark != SettlementMark) return false;
  const quint32 payloadLength = readWord(bytes_.data() + at + sizeof(quint32));
  if (quint64(payloadLength) > quint64(bytes_.size() - at - RecordHead)) return false;
  const QByteArrayView payload = bytes_.sliced(at + RecordHead, payloadLength);
  if (readWord(bytes_.data() + at + 2 * sizeof(quint32)) != checksum(payloadLength, payload)) {
    return false;
  }
  frame.settlement = mark == SettlementMark;
  if (frame.settlement) {
    frame.parts = UnpackedValues(payload.toByteArray());
    if (frame.parts.size() != 3) return false;
  } else {
    frame.frame.resize(0);
    appendWord(frame.frame, payloadLength);
    frame.frame.append(payload);
  }
  frame.end = false;
  length = RecordHead + payloadLength;
  return true;
}

// A record that is not intact is damage, unless it is the last write, cut short: then no
// intact record follows it.
SpoolFrame SpoolReader::nextChecked() {
  SpoolFrame frame;
  qsizetype length = 0;
  if (at_ >= bytes_.size()) return frame;
  if (recordAt(at_, frame, length)) {
    at_ += length;
    return frame;
  }
  for (qsizetype at = at_ + 1; at < bytes_.size(); ++at) {
    if (recordAt(at, frame, length)) {
      damaged_ = true;
      frame.afterDamage = true;
      at_ = at + length;
      return frame;
    }
  }
  at_ = bytes_.size();
  return {};
}

SpoolFrame SpoolReader::nextUnchecked() {
  SpoolFrame frame;
  const auto word = [&](quint32& value) {
    if (bytes_.size() - at_ < qsizetype(sizeof value)) return false;
    value = readWord(bytes_.data() + at_);
    at_ += sizeof value;
    return true;
  };
  quint32 length = 0;
  if (!word(length)) return frame;
  if (length == OldSettlementMark) {
    frame.settlement = true;
    if (!word(length)) return frame;
  }
  if (quint64(length) > quint64(bytes_.size() - at_)) return frame;
  const QByteArrayView payload = bytes_.sliced(at_, length);
  at_ += length;
  if (frame.settlement) {
    frame.parts = UnpackedValues(payload.toByteArray());
    if (frame.parts.size() != 3) return frame;
  } else {
    appendWord(frame.frame, length);
    frame.frame.append(payload);
  }
  frame.end = false;
  return frame;
}
