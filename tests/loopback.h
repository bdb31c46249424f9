#ifndef TESTS_LOOPBACK_H
#define TESTS_LOOPBACK_H

// Helpers for socket tests: everything stays on 127.0.0.1, on ports the kernel
// picks, and every wait gives up after a bounded number of short polls.

#include <chrono>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "trel_tools/Socket.h"

namespace trel_test {

constexpr const char* kLoopback = "127.0.0.1";
// 5000 polls of 1 ms: far beyond any loopback delivery, yet a broken test ends.
constexpr int kPolls = 5000;

inline void pause_one_poll() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

inline bool wait_readable(const trel::Socket& s) {
  for (int i = 0; i < kPolls; ++i, pause_one_poll())
    if (trel::SocketSelect(&s, nullptr, trel::NonBlockingSocket).Readable(&s)) return true;
  return false;
}

// The next connection of a non-blocking server, or null when none comes.
inline std::unique_ptr<trel::Socket> accept_within(trel::SocketServer& server) {
  for (int i = 0; i < kPolls; ++i, pause_one_poll())
    if (trel::Socket* accepted = server.Accept()) return std::unique_ptr<trel::Socket>(accepted);
  return nullptr;
}

// Everything the peer sends until it closes; stops early after kPolls idle polls.
inline std::string receive_until_closed(trel::Socket& s) {
  std::string all;
  while (wait_readable(s)) {
    const std::string more = s.ReceiveBytes();
    if (more.empty()) break;
    all += more;
  }
  return all;
}

inline int open_descriptor_count() {
  const std::filesystem::directory_iterator entries("/proc/self/fd");
  return static_cast<int>(std::distance(begin(entries), end(entries)));
}

// A loopback listener whose thread takes one connection and collects what
// arrives on it until the sender closes; "<no connection>" when none came.
class Collector {
public:
  Collector() : thread_([this] {
    if (std::unique_ptr<trel::Socket> peer = accept_within(server_)) received_ = receive_until_closed(*peer);
  }) {}
  ~Collector() { if (thread_.joinable()) thread_.join(); }
  int port() const { return port_; }
  std::string received() {
    thread_.join();
    return received_;
  }

private:
  trel::SocketServer server_{0, 4, trel::NonBlockingSocket, kLoopback};
  int port_ = server_.LocalPort();
  std::string received_ = "<no connection>";
  std::thread thread_;
};

}  // namespace trel_test

#endif
