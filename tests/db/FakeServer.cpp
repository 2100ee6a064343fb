#include "FakeServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

constexpr int WaitMilliseconds = 2000;

// Capabilities: protocol 4.1, secure connection, plugin authentication, a database name.
constexpr quint32 Capabilities = 0x00000200 | 0x00008000 | 0x00080000 | 0x00000008;

QByteArray packet(quint8 sequence, const QByteArray& payload) {
  QByteArray out;
  const auto length = quint32(payload.size());
  out += char(length & 0xFF);
  out += char((length >> 8) & 0xFF);
  out += char((length >> 16) & 0xFF);
  out += char(sequence);
  return out + payload;
}

QByteArray greeting(const QByteArray& method) {
  QByteArray payload;
  payload += char(10);  // protocol version
  payload += QByteArray("5.5.5-10.11.0-MariaDB") + '\0';
  payload += QByteArray("\x01\x00\x00\x00", 4);  // connection id
  payload += QByteArray("abcdefgh") + '\0';      // first 8 bytes of the challenge
  payload += char(Capabilities & 0xFF);
  payload += char((Capabilities >> 8) & 0xFF);
  payload += char(45);                   // utf8mb4
  payload += QByteArray("\x02\x00", 2);  // status: autocommit
  payload += char((Capabilities >> 16) & 0xFF);
  payload += char((Capabilities >> 24) & 0xFF);
  payload += char(21);  // length of the challenge
  payload += QByteArray(10, '\0');
  payload += QByteArray("ijklmnopqrst") + '\0';
  payload += method + '\0';
  return payload;
}

bool readable(int socket) {
  pollfd wait{socket, POLLIN, 0};
  return poll(&wait, 1, WaitMilliseconds) > 0;
}

// A socket listening on a free port of the loopback address; its port in `port`.
int listenOnLoopback(quint16& port) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error("the fake server cannot listen");
  }
  port = ntohs(address.sin_port);
  return listener;
}

// Each client in turn, until `stopping`.
void acceptEach(int listener, const std::atomic<bool>& stopping,
                const std::function<void(int)>& talkTo) {
  while (!stopping) {
    pollfd wait{listener, POLLIN, 0};
    if (poll(&wait, 1, 50) <= 0) continue;
    const int client = accept(listener, nullptr, nullptr);
    if (client < 0) continue;
    talkTo(client);
    close(client);
  }
}

}  // namespace

FakeServer::FakeServer(QByteArray greetingMethod, QByteArray switchTo)
    : greetingMethod_(std::move(greetingMethod)), switchTo_(std::move(switchTo)) {
  listener_ = listenOnLoopback(port_);
  thread_ = std::thread([this] { serve(); });
}

FakeServer::~FakeServer() {
  stopping_ = true;
  thread_.join();
  close(listener_);
}

QByteArray FakeServer::received() const {
  std::lock_guard lock(receivedLock_);
  return received_;
}

void FakeServer::serve() {
  acceptEach(listener_, stopping_, [this](int client) { talkTo(client); });
}

// Greets, takes the login, asks for another method if told to, and keeps what follows
// until the client goes quiet or hangs up.
void FakeServer::talkTo(int client) {
  const QByteArray hello = packet(0, greeting(greetingMethod_));
  send(client, hello.constData(), size_t(hello.size()), MSG_NOSIGNAL);
  bool switched = switchTo_.isEmpty();
  while (!stopping_ && readable(client)) {
    char buffer[4096];
    const ssize_t got = recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    {
      std::lock_guard lock(receivedLock_);
      received_.append(buffer, got);
    }
    if (!switched) {
      switched = true;
      const quint8 sequence = quint8(buffer[3]) + 1;
      const QByteArray request = packet(sequence, '\xFE' + switchTo_ + '\0');
      send(client, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    }
  }
}

namespace {

QByteArray lengthEncoded(const QByteArray& text) {
  // Short texts only: a script's names and values.
  if (text.size() >= 251) throw std::runtime_error("the fake server's value is too long");
  return char(text.size()) + text;
}

QByteArray okPayload() {
  return QByteArray("\x00\x00\x00\x02\x00\x00\x00", 7);
}

QByteArray eofPayload() {
  return QByteArray("\xFE\x00\x00\x02\x00", 5);
}

QByteArray columnDefinition(const QByteArray& name) {
  QByteArray payload = lengthEncoded("def") + lengthEncoded("") + lengthEncoded("") +
                       lengthEncoded("") + lengthEncoded(name) + lengthEncoded(name);
  payload += char(0x0C);
  payload += QByteArray("\x2D\x00", 2);              // utf8mb4
  payload += QByteArray("\x00\x01\x00\x00", 4);      // length
  payload += char(0xFD);                             // VAR_STRING
  payload += QByteArray("\x00\x00\x00\x00\x00", 5);  // flags, decimals, filler
  return payload;
}

// A whole packet of the client's: its sequence number and payload; false once it is gone.
bool readPacket(int client, QByteArray& pending, quint8& sequence, QByteArray& payload) {
  while (pending.size() < 4 || pending.size() < 4 + (uchar(pending[0]) | uchar(pending[1]) << 8 |
                                                     uchar(pending[2]) << 16)) {
    if (!readable(client)) return false;
    char buffer[4096];
    const ssize_t got = recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    pending.append(buffer, got);
  }
  const int length = uchar(pending[0]) | uchar(pending[1]) << 8 | uchar(pending[2]) << 16;
  sequence = quint8(pending[3]);
  payload = pending.mid(4, length);
  pending.remove(0, 4 + length);
  return true;
}

void sendAll(int client, const QByteArray& bytes) {
  send(client, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
}

QByteArray replyPackets(const ScriptedServer::Reply& reply) {
  if (reply.columns.isEmpty()) return packet(1, okPayload());
  quint8 sequence = 1;
  QByteArray out = packet(sequence++, QByteArray(1, char(reply.columns.size())));
  for (const QByteArray& column : reply.columns)
    out += packet(sequence++, columnDefinition(column));
  out += packet(sequence++, eofPayload());
  for (const auto& row : reply.rows) {
    QByteArray values;
    for (const std::optional<QByteArray>& value : row) {
      values += value ? lengthEncoded(*value) : QByteArray(1, char(0xFB));
    }
    out += packet(sequence++, values);
  }
  return out + packet(sequence, eofPayload());
}

}  // namespace

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
  listener_ = listenOnLoopback(port_);
  thread_ = std::thread([this] { serve(); });
}

ScriptedServer::~ScriptedServer() {
  stopping_ = true;
  thread_.join();
  close(listener_);
}

void ScriptedServer::serve() {
  acceptEach(listener_, stopping_, [this](int client) { talkTo(client); });
}

// Greets, lets the login in, then answers each statement until the client quits.
void ScriptedServer::talkTo(int client) {
  sendAll(client, packet(0, greeting("mysql_native_password")));
  QByteArray pending, payload;
  quint8 sequence = 0;
  if (!readPacket(client, pending, sequence, payload)) return;
  sendAll(client, packet(quint8(sequence + 1), okPayload()));
  constexpr char Query = 0x03, Quit = 0x01;
  while (!stopping_ && readPacket(client, pending, sequence, payload)) {
    if (payload.isEmpty() || payload[0] == Quit) return;
    sendAll(client,
            payload[0] == Query ? replyPackets(script_(payload.mid(1))) : packet(1, okPayload()));
  }
}
