// delay-proxy LISTEN_PORT TARGET_PORT DELAY_MS: a TCP proxy on 127.0.0.1 that holds every
// byte DELAY_MS milliseconds before passing it on, each way, so that a round trip through
// it costs twice that: a server across a network, on a machine without netem.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One direction of one connection: a reader queues what arrives with its due time, a
// writer sends it when due. Order is kept, and bytes are never merged out of time.
class DelayedPipe {
 public:
  DelayedPipe(int from, int to, std::chrono::milliseconds delay)
      : from_(from), to_(to), delay_(delay) {}

  void run() {
    std::thread writer([this] { write(); });
    std::vector<char> buffer(1 << 16);
    for (;;) {
      const ssize_t got = ::read(from_, buffer.data(), buffer.size());
      std::lock_guard lock(mutex_);
      if (got <= 0) {
        closed_ = true;
        ready_.notify_one();
        break;
      }
      queue_.push_back({Clock::now() + delay_, std::string(buffer.data(), std::size_t(got))});
      ready_.notify_one();
    }
    writer.join();
    ::shutdown(to_, SHUT_WR);
  }

 private:
  struct Packet {
    Clock::time_point due;
    std::string bytes;
  };

  void write() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ready_.wait(lock, [this] { return closed_ || !queue_.empty(); });
      if (queue_.empty()) return;
      Packet packet = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      std::this_thread::sleep_until(packet.due);
      for (std::size_t sent = 0; sent < packet.bytes.size();) {
        const ssize_t n = ::write(to_, packet.bytes.data() + sent, packet.bytes.size() - sent);
        if (n <= 0) return;
        sent += std::size_t(n);
      }
      lock.lock();
    }
  }

  int from_, to_;
  std::chrono::milliseconds delay_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Packet> queue_;
  bool closed_ = false;
};

int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void noDelay(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: delay-proxy LISTEN_PORT TARGET_PORT DELAY_MS\n");
    return 2;
  }
  // A peer that closes while bytes are still due must not end the proxy.
  std::signal(SIGPIPE, SIG_IGN);
  const int listenPort = std::atoi(argv[1]);
  const int targetPort = std::atoi(argv[2]);
  const std::chrono::milliseconds delay(std::atoi(argv[3]));

  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(listenPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 64) != 0) {
    std::perror("delay-proxy");
    return 1;
  }
  for (;;) {
    const int client = ::accept(listener, nullptr, nullptr);
    if (client < 0) continue;
    const int server = connectTo(targetPort);
    if (server < 0) {
      ::close(client);
      continue;
    }
    noDelay(client);
    noDelay(server);
    std::thread([client, server, delay] {
      DelayedPipe up(client, server, delay), down(server, client, delay);
      std::thread back([&] { down.run(); });
      up.run();
      back.join();
      ::close(client);
      ::close(server);
    }).detach();
  }
}
