#include "ChangePreview.h"

#include <algorithm>
#include <cstring>

#include "ChangeRule.h"
#include "Connection.h"
#include "RecordSet.h"
#include "RunJournal.h"
#include "SqlText.h"

ChangePreview::ChangePreview(RunDescription description, RewriteTarget target, bool binary)
    : description_(std::move(description)), target_(std::move(target)), binary_(binary) {}

void ChangePreview::add(qint64 position, QByteArrayView packed, QByteArrayView before,
                        QByteArrayView after, bool tooLong) {
  char* out = arena_.reserve(std::size_t(packed.size() + before.size() + after.size()));
  entries_.push_back({out, quint32(packed.size()), quint32(before.size()), quint32(after.size()),
                      tooLong, position});
  out = std::copy(packed.begin(), packed.end(), out);
  out = std::copy(before.begin(), before.end(), out);
  std::copy(after.begin(), after.end(), out);
  ++counts.changing;
  if (tooLong) ++counts.tooLong;
  if (drainAt_ > 0 && size() >= drainAt_) drainRest();
}

void ChangePreview::drainEvery(qsizetype entries, std::function<void(const ChangePreview&)> drain) {
  drainAt_ = entries;
  drain_ = std::move(drain);
}

void ChangePreview::drainRest() {
  if (!drain_ || entries_.empty()) return;
  drain_(*this);
  dropKept();
}

void ChangePreview::dropKept() {
  entries_.clear();
  leftOut_ = 0;
  arena_.clear();
}

void ChangePreview::leaveOut(qsizetype i, bool out) {
  bool& entry = entries_[std::size_t(i)].leftOut;
  if (entry == out) return;
  entry = out;
  leftOut_ += out ? 1 : -1;
}

void ChangePreview::countFailure(const QString& reason) {
  ++counts.failing;
  auto known =
      std::find_if(counts.failures.begin(), counts.failures.end(),
                   [&](const PreviewFailure& failure) { return failure.reason == reason; });
  if (known == counts.failures.end()) known = counts.failures.insert(known, {reason, 0});
  ++known->records;
}

QString ChangePreview::decoded(const char* data, quint32 length) const {
  return binary_ ? QString::fromLatin1(data, length) : QString::fromUtf8(data, length);
}

std::optional<QByteArrayView> ChangePreview::singleKeyBytes(qsizetype i) const {
  const Stored& stored = entries_[std::size_t(i)];
  // One value, packed as a mark, a length and the bytes.
  if (!target_.keyed || target_.identityColumns.size() != 1 || stored.identityLength <= 1) {
    return std::nullopt;
  }
  return QByteArrayView(stored.data + 5, stored.identityLength - 5);
}

ChangePreview::Entry ChangePreview::keyOnly(qsizetype i) const {
  const Stored& stored = entries_[std::size_t(i)];
  Entry entry;
  entry.tooLong = stored.tooLong;
  if (const std::optional<QByteArrayView> key = singleKeyBytes(i)) {
    entry.key = QString::fromUtf8(*key);
  } else if (target_.keyed) {
    QStringList values;
    for (const std::optional<QByteArray>& value :
         UnpackedValues(QByteArray::fromRawData(stored.data, stored.identityLength))) {
      values << (value ? QString::fromUtf8(*value) : QStringLiteral("NULL"));
    }
    entry.key = values.join(QStringLiteral(", "));
  } else {
    entry.key = QStringLiteral("record %1").arg(stored.position + 1);
  }
  return entry;
}

ChangePreview::Entry ChangePreview::entry(qsizetype i) const {
  Entry entry = keyOnly(i);
  entry.before = decoded(beforeBytes(i).data(), quint32(beforeBytes(i).size()));
  entry.after = decoded(afterBytes(i).data(), quint32(afterBytes(i).size()));
  return entry;
}

QByteArrayView ChangePreview::beforeBytes(qsizetype i) const {
  const Stored& stored = entries_[std::size_t(i)];
  return {stored.data + stored.identityLength, qsizetype(stored.beforeLength)};
}

QByteArrayView ChangePreview::afterBytes(qsizetype i) const {
  const Stored& stored = entries_[std::size_t(i)];
  return {stored.data + stored.identityLength + stored.beforeLength, qsizetype(stored.afterLength)};
}

bool ChangePreview::contains(qsizetype i, const QString& text) const {
  const QByteArrayView before = beforeBytes(i), after = afterBytes(i);
  return decoded(before.data(), quint32(before.size())).contains(text) ||
         decoded(after.data(), quint32(after.size())).contains(text);
}

Rewrite ChangePreview::rewrite(qsizetype i, std::size_t part) const {
  const Stored& stored = entries_[std::size_t(i)];
  const char* before = stored.data + stored.identityLength;
  return {UnpackedValues(QByteArray(stored.data, stored.identityLength)),
          QByteArray(before, stored.beforeLength),
          QByteArray(before + stored.beforeLength, stored.afterLength), part};
}

namespace {

qint64 charactersIn(const QString& text) {
  qint64 characters = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (!text[i].isLowSurrogate()) ++characters;
  }
  return characters;
}

}  // namespace

std::optional<QByteArray> PreviewRecord(ChangePreview& preview, RecordSet& records, int field,
                                        qint64 position, const NewValueRule& newValueOf,
                                        const ColumnLimits& limits, const RowValues* identity) {
  PreviewCounts& counts = preview.counts;
  ++counts.read;
  const FieldValue stored = records.Value(field);
  QString newValue;
  std::optional<QByteArray> after;
  try {
    newValue = newValueOf(stored);
    if (!stored) {
      ++counts.nulls;
      return std::nullopt;
    }
    if (!ChangesRecord(stored, newValue)) {
      ++counts.unchanged;
      return std::nullopt;
    }
    after = EncodedFieldValue(newValue, preview.binary());
  } catch (const std::exception& failure) {
    preview.countFailure(QString::fromUtf8(failure.what()));
    return std::nullopt;
  }
  const bool tooLong = (limits.characters > 0 && charactersIn(newValue) > limits.characters) ||
                       (limits.bytes > 0 && after->size() > limits.bytes);
  preview.add(position, identity ? PackedValues(*identity) : records.CurrentIdentityPacked(),
              *records.RawValue(field), *after, tooLong);
  return after;
}

void ComputePreview(ChangePreview& preview, RecordSet& records, int field,
                    const CleaningOperation& operation, const Answers& answers,
                    const ColumnLimits& limits) {
  const NewValueRule rule = [&](const FieldValue& stored) {
    return NewValueOf(operation, answers, stored);
  };
  for (qint64 position = 0; !records.Eof(); ++position, records.MoveNext()) {
    PreviewRecord(preview, records, field, position, rule, limits);
  }
}

void ApplyPreview(const ChangePreview& preview, RewriteRun& rewrites) {
  JournalRun journaled = JournalRunOf(preview.description(), rewrites.login());
  const RewriteSource changes = [&](const PartRange&, const RewriteVisitor& visit) {
    for (qsizetype i = 0; i < preview.size(); ++i) {
      if (!preview.leftOut(i) && !visit(preview.rewrite(i))) return;
    }
  };
  rewrites.run(preview.target(), journaled, preview.description(), preview.chosen(), changes);
}

QString PreviewCountsText(const ChangePreview& preview) {
  const PreviewCounts& counts = preview.counts;
  QString text = CountText(counts.read) + QStringLiteral(" records read: ") +
                 CountText(counts.changing) + QStringLiteral(" would change, ") +
                 CountText(counts.unchanged) + QStringLiteral(" unchanged, ") +
                 CountedText(counts.nulls, QStringLiteral("null"), QStringLiteral("nulls")) +
                 QStringLiteral(" (never written), ") + CountText(counts.failing) +
                 QStringLiteral(" cannot be computed");
  QStringList reasons;
  for (const PreviewFailure& failure : counts.failures) {
    reasons << failure.reason + QStringLiteral(": ") + CountText(failure.records);
  }
  if (!reasons.isEmpty()) text += QStringLiteral(" (") + reasons.join(QStringLiteral("; ")) + u')';
  if (counts.tooLong > 0) {
    text += QStringLiteral(", ") + CountText(counts.tooLong) +
            QStringLiteral(" too long for the column (the server would refuse them)");
  }
  return text + u'.';
}
