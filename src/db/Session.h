#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QString>
#include <memory>
#include <vector>

#include "ConnectionString.h"
#include "FieldCollection.h"

class GroupedWriter;
class RowSource;
class RowUpdater;

struct SessionOptions {
  unsigned connectTimeoutSeconds = 15;
  unsigned commandTimeoutSeconds = 30;  // 0: no limit
  unsigned lockWaitSeconds = 0;         // how long a write waits for a locked row; 0: the server's
};

// One open connection to a server, shared by a Connection and the record sets opened on it:
// what the record layer asks of an engine. Each kind of server implements it in its own
// folder (engine/mariadb); OpenSession picks the implementation. A connection carries one
// result at a time: before anything else is sent, a result still streaming is read into
// memory (when its reader is still open) or skipped (when it was let go); when the session
// itself closes, unread rows are not downloaded at all. Each throws DbError when the server
// or the link fails it.
class Session {
 public:
  virtual ~Session() = default;

  virtual bool isOpen() const = 0;
  virtual void close() = 0;
  // "encrypted, TLSv1.3, certificate not checked" or "not encrypted".
  virtual QString linkDescription() const = 0;
  // Ends the statement that another thread runs on this session now: the server is asked
  // over a connection of its own made with `attributes`; when it cannot be asked, this
  // session's link is cut. Either way the statement fails in the thread that runs it.
  virtual void cancelStatement(const ConnectionAttributes& attributes) const = 0;
  // The cluster that the server belongs to; empty for a server on its own.
  virtual QString clusterId() = 0;

  // Runs a statement of the server's SQL; its rows, read forward as they arrive, or nothing
  // for a statement that returns none.
  virtual std::unique_ptr<RowSource> execute(QByteArrayView statement) = 0;
  // Reads in the rows of a result still arriving, so that another statement can go at once.
  virtual void makeIdle() = 0;
  // The fields of `table` of `database`, as a reading of all its columns shows them; no row
  // is read.
  virtual FieldCollection tableFields(const QString& database, const QString& table) = 0;

  // A writer of single rows of the table that `fields` (a reading of its columns) come
  // from. `knownKey`, when given, names the key's columns as found a moment ago on the same
  // table (none: it has no key), which spares asking the server again.
  virtual std::unique_ptr<RowUpdater> rowUpdater(const FieldCollection& fields,
                                                 const QByteArrayList* knownKey) = 0;
  // A writer of many rows at once of the fields `written` (by slot), when the table allows
  // it; else nothing, and `whyNot` says why, for the user. See GroupedWriter.
  virtual std::unique_ptr<GroupedWriter> groupedWriter(const FieldCollection& fields,
                                                       RowUpdater& updater,
                                                       std::vector<int> written,
                                                       QString* whyNot) = 0;
};

// Opens a session with the engine that `attributes` name.
std::shared_ptr<Session> OpenSession(const ConnectionAttributes& attributes,
                                     const SessionOptions& options);
