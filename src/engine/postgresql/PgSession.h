#pragma once

#include <libpq-fe.h>

#include <QByteArray>
#include <memory>
#include <optional>
#include <vector>

#include "Session.h"

class PgRows;

struct PgConnectionCloser {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct PgResultFreer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultFreer>;

// A parameter of a statement: null, text, or bytes.
struct PgParameter {
  std::optional<QByteArray> value;
  bool bytes = false;
};

// A session with PostgreSQL through libpq. A reading streams one row at a time; before
// anything else is sent, the rows still on their way are read into memory (when their
// reader is open) or the statement is cancelled (when it was let go).
class PgSession final : public Session, public std::enable_shared_from_this<PgSession> {
 public:
  static std::shared_ptr<PgSession> open(const ConnectionAttributes& attributes,
                                         const SessionOptions& options);
  ~PgSession() override;
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  // The PostgreSQL session that `session` is: the engine's own code reaches its handle so.
  static PgSession& of(Session& session);

  bool isOpen() const override { return connection_ != nullptr; }
  void close() override;
  QString linkDescription() const override;
  void cancelStatement(const ConnectionAttributes& attributes) const override;
  QString clusterId() override { return {}; }
  std::unique_ptr<RowSource> execute(QByteArrayView statement) override;
  void makeIdle() override { idle(); }
  // Of the schemas of the search path: the database is the one logged into.
  FieldCollection tableFields(const QString& database, const QString& table) override;
  std::unique_ptr<RowUpdater> rowUpdater(const FieldCollection& fields,
                                         const QByteArrayList* knownKey) override;
  std::unique_ptr<GroupedWriter> groupedWriter(const FieldCollection& fields, RowUpdater& updater,
                                               std::vector<int> written, QString* whyNot) override;

  // Runs one statement with its parameters; its whole result, in memory, as text (or as
  // bytes, with `bytesResult`). Throws DbError.
  PgResult run(const QByteArray& statement, const std::vector<PgParameter>& parameters = {},
               bool bytesResult = false);
  // The connection, ready for a statement. Throws when the session was closed.
  PGconn* idle();
  // Whether a statement may go now without ending a reading first.
  bool idleNow() const { return isOpen() && !streaming_ && !abandoned_; }
  PGconn* handle() const { return connection_.get(); }

  // The reading whose rows arrive now; it calls finished() once they are all in.
  void finished(PgRows* rows);
  // A reading let go before its end: its statement is ended before the next one goes.
  void abandon(PgRows* rows);

 private:
  PgSession(PGconn* connection, Encryption encryption)
      : connection_(connection), encryption_(encryption) {}
  FieldCollection fieldsOf(const PGresult* description);
  void endAbandoned();

  std::unique_ptr<PGconn, PgConnectionCloser> connection_;
  Encryption encryption_;
  PgRows* streaming_ = nullptr;
  bool abandoned_ = false;
  bool prepared_ = false;  // the reading statement is prepared on the server
};

// A name as PostgreSQL's SQL quotes it: in double quotes, a double quote doubled.
QByteArray PgQuotedName(const QByteArray& name);
// A table as the table list names it: "schema.table" is the table of that schema, a name
// without a dot the first schema's of the search path that has it.
QByteArray PgQuotedTable(const QByteArray& table);

// Reads every result of the statement sent last, keeping the last; throws the first failure.
PgResult PgLastResult(PGconn* connection);
