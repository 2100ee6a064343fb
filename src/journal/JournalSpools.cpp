// The spool files of runs under way: each entry and settlement goes there first, and into
// the journal's database as it settles, at the run's end, or at the next start for a run
// whose program died.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <cstring>

#include "EntryBatches.h"
#include "Journal.h"
#include "JournalDatabase.h"
#include "PrivateFiles.h"
#include "SpoolFile.h"
#include "SpoolTaker.h"

namespace {

using Query = JournalQuery;

const QString SpoolFolder = QStringLiteral("spool");

// Appends a frame of `parts` to `frames`: its length, then the parts packed.
void appendFrame(QByteArray& frames, std::initializer_list<std::optional<QByteArrayView>> parts) {
  const qsizetype start = frames.size();
  frames.resize(start + qsizetype(sizeof(quint32)));  // the length, once known
  for (const std::optional<QByteArrayView>& part : parts) AppendPackedValue(frames, part);
  const quint32 length = quint32(frames.size() - start - qsizetype(sizeof(quint32)));
  std::memcpy(frames.data() + start, &length, sizeof length);
}

std::optional<QByteArrayView> viewOf(const std::optional<QByteArray>& value) {
  return value ? std::optional<QByteArrayView>(*value) : std::nullopt;
}

// An entry's or a settlement's frame: three parts.
QByteArray frameOf(const RowValues& parts) {
  QByteArray frame;
  appendFrame(frame, {viewOf(parts[0]), viewOf(parts[1]), viewOf(parts[2])});
  return frame;
}

// The frames of the entries that a settlement keeps. One that says what the row holds is
// of a lone entry whose value a trigger changed: the entry keeps that value instead.
QByteArray keptFrames(QByteArray frames, qint64 entries, const std::optional<QByteArray>* holds) {
  if (!holds || entries != 1) return frames;
  RowValues parts = UnpackedValues(frames.sliced(sizeof(quint32)));
  parts.resize(3);
  parts[2] = *holds;
  return frameOf(parts);
}

// `identity` is room to pack the identity in, kept from entry to entry.
void appendEntryFrame(QByteArray& frames, const RowChange& change, QByteArray& identity) {
  identity.resize(0);
  for (const std::optional<QByteArray>& value : change.identity) {
    AppendPackedValue(identity, viewOf(value));
  }
  appendFrame(frames, {QByteArrayView(identity), viewOf(change.before), viewOf(change.after)});
}

QByteArray settlementRecord(WriteSettled how, const std::optional<QByteArray>* holds) {
  QByteArray parts;
  for (const std::optional<QByteArray>& part :
       {std::optional(QByteArray(1, char(how))), std::optional(QByteArray(holds ? "1" : "0")),
        holds ? *holds : std::nullopt}) {
    AppendPackedValue(parts, viewOf(part));
  }
  return SpoolFormat::settlementRecord(parts);
}

// What the entries of a journal say of their writes.
enum EntryState : qint64 { WrittenEntry = 1, InDoubtEntry = 2 };

void writeFully(int file, const QByteArray& bytes) {
  const char* at = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(file, at, size_t(left));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      throw JournalError(std::string("journal: cannot write the spool file (") +
                         std::strerror(written < 0 ? errno : ENOSPC) + ")");
    }
    at += written;
    left -= written;
  }
}

}  // namespace

QString Journal::spoolFolder() const {
  return QFileInfo(path_).absolutePath() + u'/' + SpoolFolder;
}

QString Journal::spoolPath(qint64 run) const {
  return spoolFolder() + QStringLiteral("/run-%1").arg(run);
}

void Journal::record(qint64 run, const RowChange& change) {
  if (!described_.contains(run)) describe(run, change);
  Spool& spool = spoolOf(run);
  QByteArray frame, identity;
  appendEntryFrame(frame, change, identity);
  spool.write(SpoolFormat::entryRecords(frame), writeHook_);
  ++spool.unsettled;
  if (spool.taker) spool.unsettledFrames += frame;
}

void Journal::recordAll(qint64 run, std::span<const RowChange> changes) {
  if (changes.empty()) return;
  if (!described_.contains(run)) describe(run, changes.front());
  Spool& spool = spoolOf(run);
  QByteArray frames, identity;
  for (const RowChange& change : changes) appendEntryFrame(frames, change, identity);
  spool.write(SpoolFormat::entryRecords(frames), writeHook_, true);
  spool.unsettled += qint64(changes.size());
  if (spool.taker) spool.unsettledFrames += frames;
}

void Journal::settle(qint64 run, WriteSettled how, const std::optional<QByteArray>* holds) {
  const auto spool = spools_.find(run);
  if (spool == spools_.end() || spool->second.unsettled == 0) return;
  Spool& settling = spool->second;
  settling.write(settlementRecord(how, holds), writeHook_);
  if (settling.taker && how != WriteSettled::NotWritten) {
    settling.taker->take(keptFrames(std::move(settling.unsettledFrames), settling.unsettled, holds),
                         how == WriteSettled::InDoubt);
  }
  settling.unsettledFrames.clear();
  settling.unsettled = 0;
}

// A frame cut short would make the frames after it unreadable: after a failed write the
// spool takes nothing more, and its run's last entries stay in doubt.
void Journal::Spool::write(const QByteArray& frame, const std::function<void()>& hook,
                           bool durable) {
  if (!failure.empty()) throw JournalError(failure);
  try {
    if (hook) hook();
    writeFully(file, frame);
    if (durable && ::fdatasync(file) != 0) {
      throw JournalError(std::string("journal: cannot sync the spool file (") +
                         std::strerror(errno) + ")");
    }
  } catch (const JournalError& failed) {
    failure = failed.what();
    throw;
  }
}

Journal::Spool& Journal::spoolOf(qint64 run) {
  auto spool = spools_.find(run);
  if (spool == spools_.end()) {
    const QString path = spoolPath(run);
    RequirePrivateFolder(QFileInfo(path).absolutePath());
    const int file = OpenPrivately(path, O_WRONLY | O_APPEND);
    // Held while the run goes on: a spool that can be locked belongs to a program gone.
    if (::flock(file, LOCK_EX) != 0) {
      ::close(file);
      throw JournalError("journal: cannot lock " + path.toStdString());
    }
    Spool opened;
    opened.file = file;
    struct stat status {};
    if (::fstat(file, &status) == 0 && status.st_size == 0) {
      try {
        writeFully(file, SpoolFormat::header());
      } catch (const JournalError&) {
        ::close(file);
        throw;
      }
    }
    try {
      opened.taker = std::make_unique<SpoolTaker>(path_, run);
    } catch (const JournalError&) {
      // Taken in from the spool when the run ends.
    }
    spool = spools_.emplace(run, std::move(opened)).first;
  }
  return spool->second;
}

// Entries whose writes did not happen are left out; those never settled (the program
// ended first) are in doubt, as are those of an older program's spool, which did not
// settle its entries, and those whose settlement may have been lost in a damaged stretch.
// A damaged spool is kept aside, for the user to see.
void Journal::takeIn(qint64 run) {
  SpoolReader spool(spoolPath(run));
  if (!this->run(run)) {
    ::unlink(QFile::encodeName(spoolPath(run)).constData());  // its run was deleted
    return;
  }
  QByteArray unsettled;  // the frames of the entries since the last settlement
  qint64 unsettledEntries = 0;
  bool uncertain = false;  // a damaged stretch lies between them and their settlement
  {
    JournalTransaction taking(db_);
    // What a taker stored of the run gives way to the spool, whole.
    Query(db_, "DELETE FROM entry_batches WHERE run = ?").bind(1, run).run();
    EntryBatches batches(db_, run);
    const auto keep = [&](EntryState state, const std::optional<QByteArray>* holds) {
      if (unsettledEntries > 0) {
        batches.add(keptFrames(std::move(unsettled), unsettledEntries, holds),
                    state == InDoubtEntry);
      }
      unsettled.clear();
      unsettledEntries = 0;
      uncertain = false;
    };
    for (SpoolFrame frame = spool.next(); !frame.end; frame = spool.next()) {
      uncertain = uncertain || frame.afterDamage;
      if (!frame.settlement) {
        unsettled += frame.frame;
        ++unsettledEntries;
        continue;
      }
      const QByteArray settledHow = frame.parts[0].value_or(QByteArray());
      const auto how = WriteSettled(settledHow.isEmpty() ? 0 : settledHow.at(0));
      const std::optional<QByteArray>* holds =
          frame.parts[1] == QByteArray("1") ? &frame.parts[2] : nullptr;
      if (uncertain) {
        keep(InDoubtEntry, nullptr);
      } else if (how == WriteSettled::NotWritten) {
        unsettled.clear();
        unsettledEntries = 0;
      } else {
        keep(how == WriteSettled::Written ? WrittenEntry : InDoubtEntry, holds);
      }
    }
    keep(InDoubtEntry, nullptr);
    batches.store();
    if (spool.damaged()) Query(db_, "UPDATE runs SET damaged = 1 WHERE id = ?").bind(1, run).run();
    taking.commit();
  }
  if (spool.damaged()) {
    const QString aside = spoolFolder() + QStringLiteral("/damaged-run-%1").arg(run);
    if (QFile::rename(spoolPath(run), aside)) damagedSpools_.push_back({run, aside});
  } else {
    ::unlink(QFile::encodeName(spoolPath(run)).constData());
  }
}

void Journal::takeInAbandonedSpools() {
  const QString folder = spoolFolder();
  QDirIterator spools(folder, {QStringLiteral("run-*")}, QDir::Files);
  while (spools.hasNext()) {
    const QString path = spools.next();
    const qint64 run = QFileInfo(path).fileName().mid(4).toLongLong();
    const int file = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (file < 0) continue;
    if (::flock(file, LOCK_EX | LOCK_NB) == 0) {
      try {
        takeIn(run);
        countTakenIn(run);
      } catch (const JournalError&) {
        // Left for the next start.
      }
    }
    ::close(file);
  }
}
