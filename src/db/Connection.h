#pragma once

#include <QString>
#include <memory>
#include <mutex>
#include <vector>

#include "ConnectionString.h"
#include "DbObject.h"

class RecordSet;
class Session;

// "ADODB.Connection": one connection to the server, opened with a connection string.
class Connection : public DbObject {
 public:
  static constexpr int UseServer = 2;
  static constexpr int UseClient = 3;

  // Set before Open.
  int CursorLocation = UseServer;
  int CommandTimeout = 30;     // seconds a statement may take; 0: no limit
  int ConnectionTimeout = 15;  // seconds the connection attempt may take
  int LockTimeout = 0;  // seconds a write waits for a row another session locked; 0: the server's
  int Mode = 0;

  ~Connection() override;

  void Open(const QString& connectionString);
  // As Open, with the settings read from a connection string already.
  void Open(const ConnectionAttributes& attributes);
  // Runs a statement; the record set holds its rows, or is closed when it returns none.
  std::unique_ptr<RecordSet> Execute(const QString& statement);
  void Close();
  // Ends the statement running on this connection, from another thread; that statement
  // then fails as interrupted, or as a lost connection when the server cannot be asked.
  // The statements of its open companions end too.
  void Cancel() const;
  // Another connection to the same server, opened as this one was, for work side by side
  // with it; Cancel() ends its statement as well as this connection's.
  std::unique_ptr<Connection> OpenCompanion() const;

  bool isOpen() const;
  // The Galera cluster that the server belongs to (its state UUID); empty for a server on
  // its own.
  QString clusterId() const;
  // How the link to the server is protected: "encrypted, TLSv1.3, certificate not checked"
  // or "not encrypted".
  QString linkDescription() const;
  // The settings it was opened with, read from the connection string once.
  const ConnectionAttributes& attributes() const { return attributes_; }
  // The open session, for the record sets opened on this connection.
  std::shared_ptr<Session> session() const;

 private:
  void open(const ConnectionAttributes& attributes);

  std::shared_ptr<Session> session_;
  ConnectionAttributes attributes_;
  mutable std::mutex companionsMutex_;
  mutable std::vector<std::weak_ptr<Session>> companions_;
};
