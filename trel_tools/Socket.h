#ifndef TREL_TOOLS_SOCKET_H
#define TREL_TOOLS_SOCKET_H

// TCP sockets over the POSIX socket interface: a reference-counted handle with
// send and receive operations (`Socket`), a connecting client
// (`SocketClient`), a listening server that hands out accepted connections
// (`SocketServer`) and a readability wait on one or two sockets
// (`SocketSelect`). IPv4 only.
//
// Errors are thrown as C strings (const char*) and std::string, not as
// exception_l:
//   "INVALID_SOCKET"        a socket cannot be opened, or a server cannot bind
//                           or is given a port outside 0..65535;
//   "Invalid Socket"        Accept fails for another reason than "no client";
//   "Error in select"       the readability wait fails;
//   std::string             a client's host does not resolve or its connect
//                           fails: the system's error text, at most 100 characters;
//                           a client's port is outside 0..65535:
//                           "port <port> is outside 0..65535".
// Send and receive failures are not reported: the send operations ignore
// them, ReceiveBytes returns what it has, ReceiveLine returns "".
//
// Threads: the live-object counter and the share counts are atomic, so
// sockets may be created and destroyed on several threads at once. Apart from
// that a socket object and its copies are meant for one thread at a time (or
// for callers holding one lock); send and receive add no locking.

#include <atomic>
#include <string>

#include "trel_tools/export.h"

namespace trel {

enum TypeSocket { BlockingSocket = 0, NonBlockingSocket = 1 };

// A share of one TCP connection. Copies share the descriptor; it is closed
// when the last share goes or when any share calls Close, whichever comes
// first, and never twice.
class TREL_TOOLS_EXPORT Socket {
public:
  virtual ~Socket();

  // Shares the other's connection (one more share, one more live object).
  Socket(const Socket& other);

  // Releases this object's connection (closing it when this was the last
  // share) and takes a share of the other's. Assigning a socket to itself, or
  // a copy of the same connection, changes nothing. The live-object count is
  // unchanged: no object comes or goes.
  Socket& operator=(Socket& other);

  // Closes the connection at once for every share; later sends fail
  // silently and receives return "". Closing twice is harmless.
  void Close();

  // Everything readable now, without waiting: gathered in receives of at
  // most 1024 bytes while the kernel reports pending bytes. "" when nothing
  // is pending, when the peer has closed, or on an error.
  std::string ReceiveBytes();

  // One line, of which nothing after the newline is consumed, returned
  // with its terminating '\n' (a '\r' before it is kept). When the peer closes
  // first, the bytes collected so far without a newline; on an error "". A
  // blocking socket waits for the line.
  std::string ReceiveLine();

  // Sends every byte of `s`, repeating the send while the kernel takes only
  // part of it, until all is out or a send fails. A peer that has gone away
  // never raises SIGPIPE. Failures are not reported.
  void SendBytes(const std::string& s);

  // Sends `s` followed by '\n', as SendBytes.
  void SendLine(std::string s);

  // The local port the connection or listener is bound to (for a server
  // opened on port 0, the port the kernel picked); -1 when closed or unknown.
  int LocalPort() const;

  // The number of live Socket objects of the process, copies included.
  static int NofSockets();

protected:
  friend class SocketServer;
  friend class SocketSelect;

  // Registers the object and opens an IPv4 TCP socket; throws
  // "INVALID_SOCKET" (registering nothing) when it cannot be opened.
  Socket();
  // Registers the object and adopts an open descriptor.
  explicit Socket(int handle);

  // The descriptor of the connection, -1 once closed.
  int handle() const;

  // The state every share of one connection sees: the descriptor, -1 once
  // closed, and the number of Socket objects sharing it.
  struct Shared {
    std::atomic<int> handle;
    std::atomic<int> shares;
  };
  Shared* shared_;

private:
  void release();

  // Hold the place of the socket library's start-up and clean-up: the first
  // live object "starts" it and the last "cleans it up". POSIX sockets need
  // neither, so only the counter remains.
  static void Start();
  static void End();

  static std::atomic<int> nofSockets_;
};

// A connection to `host` (a name or a dotted IPv4 address, resolved to its
// first IPv4 address) on `port`, 0 to 65535. The constructor blocks until
// connected. Throws std::string with the error text when the name does not
// resolve or the connection fails (e.g. "Connection refused"), the
// std::string "port <port> is outside 0..65535" for any other port (it would
// wrap to another one), "INVALID_SOCKET" when no socket can be opened.
class TREL_TOOLS_EXPORT SocketClient : public Socket {
public:
  SocketClient(const std::string& host, int port);
  SocketClient(const SocketClient& other) = default;
};

// A listening socket on `port` (0: a port the kernel picks, see LocalPort)
// with a backlog of `connections`. `address` restricts the listener to one
// local IPv4 address (e.g. "127.0.0.1"); empty listens on every address.
// NonBlockingSocket makes Accept return at once.
// Throws "INVALID_SOCKET" when the socket cannot be opened or bound or the
// port is outside 0..65535 (it would wrap to another port), and std::string
// with the error text when `address` does not resolve.
class TREL_TOOLS_EXPORT SocketServer : public Socket {
public:
  SocketServer(int port, int connections, TypeSocket type = BlockingSocket,
               const std::string& address = std::string());
  SocketServer(const SocketServer& other) = default;

  // One accepted connection, newly allocated and owned by the caller. The
  // connection is blocking whatever the server's mode. A non-blocking server
  // without a pending client returns null; other failures throw
  // "Invalid Socket".
  Socket* Accept();
};

// Waits until the first socket, or the second when it is given (it may be
// null), is readable: has data, or its peer has closed or failed. A blocking
// wait has no time limit; NonBlockingSocket waits at most 1 microsecond.
// Throws "Error in select" when the wait fails, also for a null or closed
// first socket and a closed second one. Works for any descriptor number.
class TREL_TOOLS_EXPORT SocketSelect {
public:
  SocketSelect(const Socket* s1, const Socket* s2, TypeSocket type = BlockingSocket);

  // Whether `s` is one of the waited-on sockets and was found readable.
  bool Readable(const Socket* s) const;

private:
  struct Entry {
    int handle;
    bool readable;
  };
  Entry entries_[2];
  int count_;
};

}  // namespace trel

#endif
