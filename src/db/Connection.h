#pragma once

#include <QString>
#include <memory>

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
  int Mode = 0;

  ~Connection() override;

  void Open(const QString& connectionString);
  // Runs a statement; the record set holds its rows, or is closed when it returns none.
  std::unique_ptr<RecordSet> Execute(const QString& statement);
  void Close();

  bool isOpen() const;
  // The open session, for the record sets opened on this connection.
  std::shared_ptr<Session> session() const;

 private:
  std::shared_ptr<Session> session_;
};
