// An avatar message sent over a loopback connection and read back.
#include <cstdio>
#include <memory>
#include <string>

#include "trel_tools/Socket.h"
#include "trel_tools/avatar_sender.h"

int main() {
  // [socket]
  trel::SocketServer server(0, 8, trel::NonBlockingSocket, "127.0.0.1");  // port 0: the kernel picks
  const int port = server.LocalPort();
  trel::write_string_to_socket("alice", "127.0.0.1", port);  // one connection, one message
  std::unique_ptr<trel::Socket> peer(server.Accept());       // null when nobody is waiting
  std::string text;
  for (std::string line; !(line = peer->ReceiveLine()).empty();) text += line;
  std::printf("%s\n", text.c_str());
  // [/socket]
}
