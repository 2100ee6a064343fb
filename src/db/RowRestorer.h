#pragma once

#include <QByteArrayList>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "FieldCollection.h"
#include "RowChange.h"

class Connection;
class RowUpdater;
class Session;

// Puts old values back into the rows that a run wrote, found again as the run's journal
// tells them: by their key, or, in a table without a key, by the whole row as written.
// A value goes back only where the run's value still stands, byte for byte.
class RowRestorer {
 public:
  enum class Outcome {
    Restored,
    AlreadyBefore,  // the old value stands already: undone before, or never written
    ChangedSince,   // the row holds another value now (or, without a key, is gone)
    Gone,           // no row has the key any more
  };

  // Throws DbError when the table no longer has the key or the columns that the run
  // found its rows by: its rows could not be found again safely.
  RowRestorer(Connection& connection, const QString& database, const QString& table,
              const QByteArrayList& identityColumns, bool keyed, const QByteArray& column);
  ~RowRestorer();

  Outcome restore(const std::vector<std::optional<QByteArray>>& identity,
                  const std::optional<QByteArray>& before, const std::optional<QByteArray>& after,
                  WriteObserver* observer);

 private:
  std::shared_ptr<Session> session_;
  FieldCollection fields_;
  std::unique_ptr<RowUpdater> updater_;
  std::vector<int> identityFields_;
  int field_ = -1;
};
