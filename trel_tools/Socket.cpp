#include "trel_tools/Socket.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace trel {

namespace {

constexpr std::size_t kReceiveBlock = 1024;
constexpr std::size_t kErrorTextLimit = 100;

std::string error_text(const char* text) { return std::string(text).substr(0, kErrorTextLimit); }

int open_tcp_socket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

// The first IPv4 address of `host` in `address` (port left alone); on failure
// the resolver's error text.
bool resolve_ipv4(const std::string& host, sockaddr_in& address, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    error = error_text(rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc));
    return false;
  }
  address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return true;
}

// TCP ports are 16-bit: a larger or negative number would wrap to another
// port in the conversion to network byte order.
bool is_tcp_port(int port) { return port >= 0 && port <= 65535; }

sockaddr_in ipv4_address(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

}  // namespace

std::atomic<int> Socket::nofSockets_{0};

void Socket::Start() { nofSockets_.fetch_add(1); }

void Socket::End() {}

int Socket::NofSockets() { return nofSockets_.load(); }

Socket::Socket() : shared_(new Shared{{open_tcp_socket()}, {1}}) {
  if (shared_->handle.load() < 0) {
    delete shared_;
    throw "INVALID_SOCKET";
  }
  Start();
}

Socket::Socket(int handle) : shared_(new Shared{{handle}, {1}}) { Start(); }

Socket::Socket(const Socket& other) : shared_(other.shared_) {
  shared_->shares.fetch_add(1);
  Start();
}

Socket::~Socket() {
  release();
  if (nofSockets_.fetch_sub(1) == 1) End();
}

void Socket::release() {
  if (shared_->shares.fetch_sub(1) != 1) return;
  Close();
  delete shared_;
}

Socket& Socket::operator=(Socket& other) {
  if (other.shared_ == shared_) return *this;
  other.shared_->shares.fetch_add(1);
  release();
  shared_ = other.shared_;
  return *this;
}

int Socket::handle() const { return shared_->handle.load(); }

void Socket::Close() {
  // Every share sees the mark, so no later close or send reaches a descriptor
  // number the process may have handed to another socket meanwhile.
  const int handle = shared_->handle.exchange(-1);
  if (handle >= 0) ::close(handle);
}

int Socket::LocalPort() const {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  const int fd = handle();
  if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET)
    return -1;
  return ntohs(address.sin_port);
}

std::string Socket::ReceiveBytes() {
  std::string result;
  const int fd = handle();
  char buffer[kReceiveBlock];
  int pending = 0;
  while (::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0) {
    const std::size_t wanted = static_cast<std::size_t>(pending) < kReceiveBlock
                                   ? static_cast<std::size_t>(pending)
                                   : kReceiveBlock;
    const ssize_t got = ::recv(fd, buffer, wanted, 0);
    if (got <= 0) break;
    result.append(buffer, static_cast<std::size_t>(got));
  }
  return result;
}

std::string Socket::ReceiveLine() {
  std::string line;
  const int fd = handle();
  char buffer[kReceiveBlock];
  for (;;) {
    // Look at what has arrived and take it only up to the newline: the same
    // bytes a receive of one byte at a time would take, in two system calls.
    ssize_t got = ::recv(fd, buffer, sizeof(buffer), MSG_PEEK);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::string();
    if (got == 0) return line;
    const void* newline = std::memchr(buffer, '\n', static_cast<std::size_t>(got));
    const std::size_t line_part =
        newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - buffer) + 1 : static_cast<std::size_t>(got);
    do {
      got = ::recv(fd, buffer, line_part, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return std::string();
    line.append(buffer, static_cast<std::size_t>(got));
    if (!line.empty() && line.back() == '\n') return line;
  }
}

void Socket::SendBytes(const std::string& s) {
  const int fd = handle();
  const char* data = s.data();
  std::size_t left = s.size();
  while (left > 0) {
    const ssize_t sent = ::send(fd, data, left, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return;
    data += sent;
    left -= static_cast<std::size_t>(sent);
  }
}

void Socket::SendLine(std::string s) {
  s += '\n';
  SendBytes(s);
}

SocketClient::SocketClient(const std::string& host, int port) {
  if (!is_tcp_port(port)) throw "port " + std::to_string(port) + " is outside 0..65535";
  sockaddr_in address = ipv4_address(port);
  std::string error;
  if (!resolve_ipv4(host, address, error)) throw error;
  if (::connect(handle(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    throw error_text(std::strerror(errno));
}

SocketServer::SocketServer(int port, int connections, TypeSocket type, const std::string& address) {
  if (!is_tcp_port(port)) throw "INVALID_SOCKET";
  sockaddr_in local = ipv4_address(port);
  std::string error;
  if (!address.empty() && !resolve_ipv4(address, local, error)) throw error;
  // The base opened a socket of its own; the listener takes its place.
  Close();
  const int fd = open_tcp_socket();
  if (fd < 0) throw "INVALID_SOCKET";
  shared_->handle.store(fd);
  if (type == NonBlockingSocket) {
    int on = 1;
    ::ioctl(fd, FIONBIO, &on);
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
    Close();
    throw "INVALID_SOCKET";
  }
  ::listen(fd, connections);
}

Socket* SocketServer::Accept() {
  for (;;) {
    const int fd = ::accept4(handle(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      try {
        return new Socket(fd);
      } catch (const std::bad_alloc&) {
        ::close(fd);
        throw;
      }
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return nullptr;
    throw "Invalid Socket";
  }
}

SocketSelect::SocketSelect(const Socket* s1, const Socket* s2, TypeSocket type) : entries_(), count_(0) {
  pollfd fds[2] = {};
  for (const Socket* s : {s1, s2}) {
    if (s == nullptr) {
      if (count_ == 0) throw "Error in select";
      continue;
    }
    const int fd = s->handle();
    if (fd < 0) throw "Error in select";
    fds[count_].fd = fd;
    fds[count_].events = POLLIN;
    entries_[count_++] = Entry{fd, false};
  }
  // poll, unlike select, takes descriptors of any number.
  const timespec one_microsecond{0, 1000};
  int rc;
  do {
    rc = ::ppoll(fds, static_cast<nfds_t>(count_), type == NonBlockingSocket ? &one_microsecond : nullptr,
                 nullptr);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) throw "Error in select";
  for (int i = 0; i < count_; ++i) {
    if (fds[i].revents & POLLNVAL) throw "Error in select";
    // The conditions select reports as readable: data, end of stream, error.
    entries_[i].readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
}

bool SocketSelect::Readable(const Socket* s) const {
  if (s == nullptr) return false;
  const int fd = s->handle();
  for (int i = 0; i < count_; ++i)
    if (entries_[i].handle == fd && entries_[i].readable) return true;
  return false;
}

}  // namespace trel
