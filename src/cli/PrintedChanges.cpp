#include "PrintedChanges.h"

#include <QDir>
#include <iostream>

#include "CommandSupport.h"
#include "VisibleText.h"

namespace {

// Where printed changes go: standard output, or a spool read out after the counts.
using Sink = std::function<void(QByteArrayView)>;

void toStandardOutput(QByteArrayView bytes) {
  std::cout.write(bytes.data(), bytes.size());
}

// Whether UTF-8 `text` holds a control character that a terminal would obey.
bool holdsControls(QByteArrayView text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const auto c = uchar(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < text.size() && uchar(text[i + 1]) <= 0x9F) return true;  // C1
  }
  return false;
}

// Written out in one go: a million lines through a stream would cost more than the preview.
// Handed on a mebibyte at a time: the output of a big table need not be held whole. With
// `named`, each change says its table and field: one preview of several.
void printEntries(const ChangePreview& preview, bool json, bool named, const Sink& sink) {
  constexpr qsizetype Full = qsizetype(1) << 20;
  QByteArray out;
  out.reserve(Full + 4096);
  const RunDescription& run = preview.description();
  for (qsizetype i = 0; i < preview.size(); ++i) {
    if (json) {
      // The keys in QJsonDocument's order, as scripts have them.
      const ChangePreview::Entry entry = preview.binary() ? preview.entry(i) : preview.keyOnly(i);
      out += "{\"after\":";
      AppendJsonString(out, preview.binary() ? entry.after.toUtf8() : preview.afterBytes(i));
      out += ",\"before\":";
      AppendJsonString(out, preview.binary() ? entry.before.toUtf8() : preview.beforeBytes(i));
      if (named) {
        out += ",\"field\":";
        AppendJsonString(out, run.field.toUtf8());
      }
      out += ",\"key\":";
      AppendJsonString(out, entry.key.toUtf8());
      if (named) {
        out += ",\"table\":";
        AppendJsonString(out, run.table.toUtf8());
      }
      out += preview.tooLong(i) ? ",\"tooLong\":true}\n" : ",\"tooLong\":false}\n";
    } else {
      const std::optional<QByteArrayView> key = preview.singleKeyBytes(i);
      if (key && !holdsControls(*key)) {
        out += *key;
      } else {
        out += WithControlMarks(key ? QString::fromUtf8(*key) : preview.keyOnly(i).key).toUtf8();
      }
      out += ": ";
      if (preview.binary()) {
        const ChangePreview::Entry entry = preview.entry(i);
        out += WithVisibleMarks(entry.before).toUtf8() + " → " +
               WithVisibleMarks(entry.after).toUtf8();
      } else {
        AppendWithVisibleMarks(out, preview.beforeBytes(i));
        out += " → ";
        AppendWithVisibleMarks(out, preview.afterBytes(i));
      }
      out += preview.tooLong(i) ? "  (too long for the column)\n" : "\n";
    }
    if (out.size() >= Full) {
      sink(out);
      out.clear();
    }
  }
  sink(out);
}

void printCounts(const ChangePreview& preview, bool named) {
  const RunDescription& run = preview.description();
  const QString prefix = named ? run.table + u'.' + run.field + QStringLiteral(": ") : QString();
  std::cout << WithControlMarks(prefix + PreviewCountsText(preview)).toStdString() << '\n';
}

}  // namespace

StreamedChanges::StreamedChanges(bool json, bool named)
    : json_(json), named_(named), spooled_(!json || named) {
  failed_ = spooled_ && !spool_.open();
}

void StreamedChanges::drain(const ChangePreview& batch) {
  if (failed_) return;
  printEntries(
      batch, json_, named_, !spooled_ ? Sink(toStandardOutput) : [this](QByteArrayView bytes) {
        if (spool_.write(bytes.data(), bytes.size()) != bytes.size()) failed_ = true;
      });
}

QString StreamedChanges::finish(const ChangePreview& preview) {
  if (!json_) printCounts(preview, named_);
  if (spooled_) {
    if (failed_) {
      return QStringLiteral("The changes could not be kept for printing in %1: %2.")
          .arg(QDir::tempPath(), spool_.errorString());
    }
    spool_.seek(0);
    while (!spool_.atEnd()) toStandardOutput(spool_.read(qint64(1) << 20));
  }
  std::cout.flush();
  return {};
}

PreviewSetup StreamedPreviews::setUp() {
  return [this](ChangePreview& preview) {
    auto changes = std::make_unique<StreamedChanges>(json_, named_);
    preview.drainEvery(PrintedBatch,
                       [at = changes.get()](const ChangePreview& batch) { at->drain(batch); });
    printed_.push_back(std::move(changes));
  };
}

QString StreamedPreviews::finish(const ChangePreviews& previews) {
  for (std::size_t i = 0; i < printed_.size() && i < previews.size(); ++i) {
    if (QString failure = printed_[i]->finish(*previews[i]); !failure.isEmpty()) return failure;
  }
  return {};
}

bool AnyFailing(const ChangePreviews& previews) {
  return std::any_of(previews.begin(), previews.end(),
                     [](const auto& preview) { return preview->counts.failing > 0; });
}
