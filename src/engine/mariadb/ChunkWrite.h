#pragma once

#include <span>
#include <vector>

#include "ChunkSettler.h"
#include "RowChange.h"
#include "TellingAhead.h"

class ChunkTable;
class DbError;
class MariaDbRowUpdater;
class MariaDbSession;
class Transaction;

// One attempt at writing a chunk of queued rows, in a transaction of its own: each row whose
// key matches and whose fields still hold, byte for byte, the values that were read, without
// waiting for a lock. When it wrote every row, their journal entries are kept and it commits;
// else it is rolled back, and the rows no longer as read are named. The entries are told to
// the observer on a thread of their own while the rows travel to the server: they must be
// kept before the commit, not before the write.
class ChunkWrite {
 public:
  // `writing` holds the rows (their results are set here), `listed` their rows as the
  // statement lists them; `written` the fields written, by slot.
  ChunkWrite(MariaDbSession& session, ChunkTable& table, MariaDbRowUpdater& updater,
             const std::vector<int>& written, std::vector<QueuedRow>& writing,
             const QByteArray& listed);

  // Writes the rows of `part`. `atFault` is set to the rows no longer as read where the
  // chunk table tells; with `inOrder`, a chunk with such rows writes none, else it keeps
  // the rest. A lost link is thrown, its rows in doubt where the commit may have been made.
  ChunkAttempt write(const std::vector<std::size_t>& part, WriteObserver* observer,
                     std::vector<std::size_t>& atFault, bool inOrder);
  // Writes each field of the rows of `part` where it stands as read, as
  // ChunkAttempter::attemptFieldByField.
  ChunkAttempt writeFieldByField(const std::vector<std::size_t>& part, WriteObserver* observer);

 private:
  ChunkAttempt writeKeyed(const std::vector<std::size_t>& part, WriteObserver* observer,
                          std::vector<std::size_t>& atFault, bool inOrder);
  ChunkAttempt writeKeyless(const std::vector<std::size_t>& part, WriteObserver* observer,
                            std::vector<std::size_t>& atFault);
  QByteArray keylessRows(const std::vector<std::vector<std::size_t>>& twins) const;
  std::vector<std::vector<std::size_t>> twinsOf(const std::vector<std::size_t>& part) const;
  bool writeJoined(const std::vector<std::size_t>& amongMore, qulonglong rows);
  bool writeAmongMore(const std::vector<std::vector<std::size_t>>& twins,
                      const std::vector<std::size_t>& amongMore);
  ChunkAttempt journalAndCommit(Transaction& transaction, const std::vector<std::size_t>& rows,
                                WriteObserver* observer);
  ChunkAttempt journalAndCommit(Transaction& transaction, const std::vector<std::size_t>& rows,
                                TellingAhead& told);
  ChunkAttempt settleWritten(TellingAhead& told, const std::vector<std::size_t>& rows);
  [[noreturn]] void settleInDoubt(TellingAhead& told, const std::vector<std::size_t>& rows,
                                  const DbError& failure);
  TellingAhead tellingAhead(WriteObserver* observer, const std::vector<std::size_t>& rows,
                            const std::vector<quint64>* slotMasks = nullptr) const;
  // The changes of `rows` from `from` up to `to`. `slotMasks`, when given, holds for each of
  // `rows` the slots it writes, a bit each.
  std::vector<RowChange> changesOf(const std::vector<std::size_t>& rows, std::size_t from,
                                   std::size_t to,
                                   const std::vector<quint64>* slotMasks = nullptr) const;

  MariaDbSession& session_;
  ChunkTable& table_;
  MariaDbRowUpdater& updater_;
  const std::vector<int>& written_;
  std::vector<QueuedRow>& writing_;
  const QByteArray& listed_;
};
