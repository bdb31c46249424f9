// Loopback TCP on 127.0.0.1, ports picked by the kernel:
// - sending a 10 MB file: write_file_to_socket against a plain loop of 64 KB
//   read(2) and send(2) calls, both into the same draining listener, each
//   iteration timed from connect to the listener seeing the end of stream;
// - 1000 line round trips through an echoing peer: SendLine/ReceiveLine on both
//   ends against write(2)/read(2) on a socket pair of the same kind.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "trel_tools/Socket.h"
#include "trel_tools/avatar_sender.h"
#include "trel_tools/math_utils.h"

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr std::size_t kFileSize = 10 * 1024 * 1024;
constexpr std::size_t kSendBlock = 64 * 1024;
constexpr int kLines = 1000;
constexpr auto kMaxWait = std::chrono::seconds(10);

int loopback_listener(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, kLoopback, &address.sin_addr);
  socklen_t length = sizeof(address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

int loopback_connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, kLoopback, &address.sin_addr);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

const std::string& file_path() {
  static const std::string path = [] {
    std::string p = "/tmp/trel_bench_socket_" + std::to_string(trel::pid());
    std::string bytes(kFileSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(1 + i % 255);
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }();
  return path;
}

// Accepts connections one after another and reads each to its end with large
// receives; its thread polls a stop flag and so ends by itself.
class Drain {
public:
  Drain() : listener_(loopback_listener(port_)), thread_([this] { run(); }) {}
  ~Drain() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  int port() const { return port_; }
  // Waits until `count` connections have ended; the bytes of the last one.
  bool wait_for(int count, std::size_t& bytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool done = changed_.wait_for(lock, kMaxWait, [&] { return finished_ >= count; });
    bytes = last_bytes_;
    return done;
  }

private:
  void run() {
    std::vector<char> buffer(256 * 1024);
    while (!stop_) {
      pollfd listening{listener_, POLLIN, 0};
      if (poll(&listening, 1, 50) <= 0) continue;
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      std::size_t bytes = 0;
      for (ssize_t got; (got = read(fd, buffer.data(), buffer.size())) > 0;) bytes += static_cast<std::size_t>(got);
      close(fd);
      std::lock_guard<std::mutex> lock(mutex_);
      last_bytes_ = bytes;
      ++finished_;
      changed_.notify_all();
    }
  }

  int port_ = 0;
  int listener_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  int finished_ = 0;
  std::size_t last_bytes_ = 0;
  std::thread thread_;
};

template <class Send>
void run_file_benchmark(benchmark::State& state, Send send) {
  const std::string& path = file_path();
  Drain drain;
  int sent = 0;
  for (auto _ : state) {
    send(path, drain.port());
    std::size_t bytes = 0;
    if (!drain.wait_for(++sent, bytes) || bytes != kFileSize) {
      state.SkipWithError("the listener did not receive the whole file");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_WriteFileToSocket(benchmark::State& state) {
  run_file_benchmark(state, [](const std::string& path, int port) {
    std::ifstream file(path, std::ios::binary);
    trel::write_file_to_socket(file, kLoopback, port);
  });
}

void BM_PlainSendLoop64K(benchmark::State& state) {
  run_file_benchmark(state, [](const std::string& path, int port) {
    const int in = open(path.c_str(), O_RDONLY);
    const int out = loopback_connect(port);
    std::vector<char> block(kSendBlock);
    for (ssize_t got; (got = read(in, block.data(), block.size())) > 0;)
      for (ssize_t at = 0, sent; at < got; at += sent)
        if ((sent = send(out, block.data() + at, static_cast<std::size_t>(got - at), MSG_NOSIGNAL)) <= 0) break;
    close(out);
    close(in);
  });
}

struct AdoptedSocket : trel::Socket {
  explicit AdoptedSocket(int handle) : trel::Socket(handle) {}
};

// A connected loopback pair: first the near end, then the far end.
std::pair<int, int> loopback_pair() {
  int port = 0;
  const int listener = loopback_listener(port);
  const int near_end = loopback_connect(port);
  const int far_end = accept(listener, nullptr, nullptr);
  close(listener);
  return {near_end, far_end};
}

const std::string kLine = "line of a round trip, forty bytes long.";

void BM_LineRoundTripSocket(benchmark::State& state) {
  const auto [near_fd, far_fd] = loopback_pair();
  AdoptedSocket far_end(far_fd);
  std::thread echo([&far_end] {
    for (std::string line; !(line = far_end.ReceiveLine()).empty() && line.back() == '\n';) far_end.SendBytes(line);
  });
  {
    AdoptedSocket near_end(near_fd);
    for (auto _ : state)
      for (int i = 0; i < kLines; ++i) {
        near_end.SendLine(kLine);
        if (near_end.ReceiveLine().size() != kLine.size() + 1) state.SkipWithError("a line came back damaged");
      }
  }
  echo.join();
  state.SetItemsProcessed(state.iterations() * kLines);
}

void BM_LineRoundTripReadWrite(benchmark::State& state) {
  const auto [near_fd, far_fd] = loopback_pair();
  std::thread echo([far_fd = far_fd] {
    char buffer[4096];
    for (ssize_t got; (got = read(far_fd, buffer, sizeof(buffer))) > 0;)
      if (write(far_fd, buffer, static_cast<std::size_t>(got)) != got) break;
    close(far_fd);
  });
  const std::string line = kLine + "\n";
  char buffer[4096];
  for (auto _ : state)
    for (int i = 0; i < kLines; ++i) {
      if (write(near_fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
      std::size_t got = 0;
      while (got == 0 || buffer[got - 1] != '\n') {
        const ssize_t more = read(near_fd, buffer + got, sizeof(buffer) - got);
        if (more <= 0) break;
        got += static_cast<std::size_t>(more);
      }
      if (got != line.size()) state.SkipWithError("a line came back damaged");
    }
  close(near_fd);
  echo.join();
  state.SetItemsProcessed(state.iterations() * kLines);
}

BENCHMARK(BM_WriteFileToSocket)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainSendLoop64K)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LineRoundTripSocket)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LineRoundTripReadWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(file_path().c_str());
  return 0;
}
