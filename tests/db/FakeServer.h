#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// A server that only poses as MariaDB: it greets each client, asks it to log in with a
// method of its choosing, and keeps every byte that the client sends, so a test can see
// what a client would hand to a stranger. It offers no encryption.
class FakeServer {
 public:
  // `greetingMethod`: the login method named in the greeting; `switchTo`, when given, the
  // one that the server then asks for instead.
  FakeServer(QByteArray greetingMethod, QByteArray switchTo = {});
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  QString port() const { return QString::number(port_); }
  // Everything that the clients sent so far.
  QByteArray received() const;

 private:
  void serve();
  void talkTo(int client);

  QByteArray greetingMethod_;
  QByteArray switchTo_;
  int listener_ = -1;
  quint16 port_ = 0;
  std::atomic<bool> stopping_ = false;
  mutable std::mutex receivedLock_;
  QByteArray received_;
  std::thread thread_;
};

// A server that lets every login in and answers each statement as a script says: rows of
// text values under the columns it names, or a plain OK. For what a client does with
// replies that no real server gives.
class ScriptedServer {
 public:
  struct Reply {
    QByteArrayList columns;                                    // none: an OK, no result
    std::vector<std::vector<std::optional<QByteArray>>> rows;  // nullopt: NULL
  };
  using Script = std::function<Reply(const QByteArray& statement)>;

  explicit ScriptedServer(Script script);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  QString port() const { return QString::number(port_); }

 private:
  void serve();
  void talkTo(int client);

  Script script_;
  int listener_ = -1;
  quint16 port_ = 0;
  std::atomic<bool> stopping_ = false;
  std::thread thread_;
};
