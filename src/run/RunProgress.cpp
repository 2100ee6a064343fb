#include "RunProgress.h"

#include <QLocale>
#include <QRegularExpression>
#include <algorithm>

void RunProgress::count(RecordOutcome outcome) {
  switch (outcome) {
    case RecordOutcome::Written:
      written_.fetch_add(1, std::memory_order_relaxed);
      break;
    case RecordOutcome::Unchanged:
      unchanged_.fetch_add(1, std::memory_order_relaxed);
      break;
    case RecordOutcome::Reported:
      reported_.fetch_add(1, std::memory_order_relaxed);
      break;
    case RecordOutcome::InDoubt:
      inDoubt_.fetch_add(1, std::memory_order_relaxed);
      break;
    case RecordOutcome::ChangedSince:
      changedSince_.fetch_add(1, std::memory_order_relaxed);
      break;
    case RecordOutcome::Gone:
      gone_.fetch_add(1, std::memory_order_relaxed);
      break;
    case RecordOutcome::Interrupted:
      break;
  }
}

RecordOutcome RecordOutcomeOf(WriteOutcome written) {
  switch (written) {
    case WriteOutcome::Written:
      return RecordOutcome::Written;
    case WriteOutcome::AlreadyThere:
      return RecordOutcome::Unchanged;
    case WriteOutcome::ChangedSince:
      return RecordOutcome::ChangedSince;
    case WriteOutcome::Gone:
      return RecordOutcome::Gone;
    case WriteOutcome::NotFound:
    case WriteOutcome::Refused:
      return RecordOutcome::Reported;
    case WriteOutcome::NotWritten:
      return RecordOutcome::Interrupted;
    case WriteOutcome::InDoubt:
      return RecordOutcome::InDoubt;
  }
  return RecordOutcome::Reported;
}

RunCounts RunProgress::counts() const {
  RunCounts counts;
  counts.total = total_.load(std::memory_order_relaxed);
  counts.written = written_.load(std::memory_order_relaxed);
  counts.unchanged = unchanged_.load(std::memory_order_relaxed);
  counts.reported = reported_.load(std::memory_order_relaxed);
  counts.inDoubt = inDoubt_.load(std::memory_order_relaxed);
  counts.changedSince = changedSince_.load(std::memory_order_relaxed);
  counts.gone = gone_.load(std::memory_order_relaxed);
  counts.done = counts.written + counts.unchanged + counts.reported + counts.inDoubt +
                counts.changedSince + counts.gone;
  // An estimate may fall short of the records gone through.
  counts.total = std::max(counts.total, counts.done);
  return counts;
}

QString CountText(qint64 count) {
  static const QLocale english(QLocale::English, QLocale::UnitedStates);
  return english.toString(count);
}

QString StoppingAfterChunk(int rows) {
  return QStringLiteral("Stopping after this chunk (up to %1 records)…").arg(CountText(rows));
}

QString CountedText(qint64 count, const QString& one, const QString& many) {
  return CountText(count) + u' ' + (count == 1 ? one : many);
}

QString WithUnitsKept(QString text) {
  static const QRegularExpression numberAndUnit(QStringLiteral("(\\d) (s|min|h)\\b"));
  return text.replace(numberAndUnit, QStringLiteral("\\1\u00A0\\2"));
}

QString DurationText(qint64 milliseconds) {
  const qint64 seconds = (milliseconds + 500) / 1000;
  if (seconds < 60) return QStringLiteral("%1 s").arg(seconds);
  if (seconds < 3600) return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
  return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

namespace {

QString outcomesText(const RunCounts& counts, const QString& since) {
  QString text = CountText(counts.written) + QStringLiteral(" written, ") +
                 CountText(counts.unchanged) + QStringLiteral(" unchanged, ") +
                 CountText(counts.reported) + QStringLiteral(" reported");
  if (counts.changedSince > 0) {
    text += QStringLiteral(", ") + CountText(counts.changedSince) +
            QStringLiteral(" changed since ") + since + QStringLiteral(" (left as they are)");
  }
  if (counts.gone > 0) {
    text += QStringLiteral(", ") +
            CountedText(counts.gone, QStringLiteral("row gone"), QStringLiteral("rows gone"));
  }
  if (counts.inDoubt > 0) {
    text += QStringLiteral(", ") + CountText(counts.inDoubt) +
            QStringLiteral(
                " in doubt (the write was on its way when the link broke: it may or "
                "may not have reached the database)");
  }
  return text;
}

}  // namespace

QString RateText(const RunCounts& counts, qint64 milliseconds) {
  if (counts.done == 0 || milliseconds <= 0) return QStringLiteral("Starting…");
  const double perSecond = counts.done * 1000.0 / double(milliseconds);
  const qint64 leftMilliseconds = qint64(double(counts.total - counts.done) / perSecond * 1000.0);
  return CountText(qint64(perSecond)) + QStringLiteral(" records a second, about ") +
         DurationText(leftMilliseconds) + QStringLiteral(" left");
}

QString QuotedAnswers(const QStringList& answers) {
  QStringList quoted;
  for (const QString& answer : answers) quoted << u'"' + answer + u'"';
  return quoted.join(QStringLiteral(", "));
}

QString ProgressText(const RunCounts& counts, const QString& since) {
  return CountText(counts.done) + QStringLiteral(" of ") + CountText(counts.total) +
         QStringLiteral(" records: ") + outcomesText(counts, since);
}

QString SummaryText(const RunSummary& summary) {
  const RunCounts& counts = summary.counts;
  QString text;
  switch (summary.end) {
    case RunEnd::Finished:
      text = QStringLiteral("Finished: ") + CountText(counts.done) +
             QStringLiteral(" records read, ") + outcomesText(counts, summary.since);
      break;
    case RunEnd::Stopped:
      text = QStringLiteral("Stopped by you after ") + ProgressText(counts, summary.since);
      break;
    case RunEnd::ConnectionLost:
      text = QStringLiteral("The connection to the server was lost after ") +
             ProgressText(counts, summary.since) +
             QStringLiteral(". The records after it were not touched");
      break;
    case RunEnd::JournalFailed:
      text = QStringLiteral("Stopped because the journal could not be written, after ") +
             ProgressText(counts, summary.since) +
             QStringLiteral(". The records after it were not touched");
      break;
  }
  text += QStringLiteral(". ") + DurationText(summary.milliseconds) + u'.';
  for (const RunSummary::Part& part : summary.parts) {
    text +=
        u'\n' + part.name + QStringLiteral(": ") + outcomesText(part.counts, summary.since) + u'.';
  }
  for (const ReportGroup& group : summary.collected) {
    text += u'\n' + CountText(group.count) + QStringLiteral(" × ") + group.description;
    if (!group.firstSubjects.isEmpty()) {
      text += QStringLiteral(" — ") + group.firstSubjects.join(u' ');
      if (group.count > group.firstSubjects.size()) text += QStringLiteral(" …");
    }
  }
  return text;
}

void CollectedReports::add(const QString& description, const QString& subject) {
  constexpr int FirstSubjects = 3;
  auto group = std::find_if(groups_.begin(), groups_.end(), [&](const ReportGroup& known) {
    return known.description == description;
  });
  if (group == groups_.end()) {
    ReportGroup first;
    first.description = description;
    group = groups_.insert(groups_.end(), std::move(first));
  }
  ++group->count;
  if (group->firstSubjects.size() < FirstSubjects && !subject.isEmpty()) {
    group->firstSubjects << subject;
  }
}
