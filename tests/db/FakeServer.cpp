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

}  // namespace

FakeServer::FakeServer(QByteArray greetingMethod, QByteArray switchTo)
    : greetingMethod_(std::move(greetingMethod)), switchTo_(std::move(switchTo)) {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener_, 4) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error("the fake server cannot listen");
  }
  port_ = ntohs(address.sin_port);
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
  while (!stopping_) {
    pollfd wait{listener_, POLLIN, 0};
    if (poll(&wait, 1, 50) <= 0) continue;
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    talkTo(client);
    close(client);
  }
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
