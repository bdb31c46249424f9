// Starts a listener on a free loopback port, sends it an avatar message and a
// small file, and prints what arrived on each connection. Everything stays on
// 127.0.0.1. Both senders close their connection before returning, so the
// listener can take each one afterwards and read it to its end.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "trel_tools/Socket.h"
#include "trel_tools/avatar_sender.h"
#include "trel_tools/math_utils.h"

namespace {

constexpr const char* kLoopback = "127.0.0.1";

// Everything the next connection carried, up to its close.
std::string next_arrival(trel::SocketServer& server) {
  std::unique_ptr<trel::Socket> peer(server.Accept());
  if (!peer) return "(no connection arrived)";
  std::string text;
  for (std::string piece; !(piece = peer->ReceiveLine()).empty();) text += piece;
  return text;
}

}  // namespace

int main() {
  trel::SocketServer server(0, 4, trel::NonBlockingSocket, kLoopback);
  const int port = server.LocalPort();
  std::cout << "listening on " << kLoopback << ":" << port << "\n";

  trel::write_string_to_socket("Ada & \"Bob\"", kLoopback, port);
  const std::string message = next_arrival(server);
  std::cout << "avatar message, " << message.size() << " bytes:\n  " << message << "\n";

  const std::string path = "/tmp/trel_socket_demo_" + std::to_string(trel::pid());
  std::ofstream(path, std::ios::binary) << std::string("first line\nsecond line\n\0kept back", 33);
  std::ifstream file(path, std::ios::binary);
  trel::write_file_to_socket(file, kLoopback, port);
  const std::string sent = next_arrival(server);
  std::cout << "file, " << sent.size() << " bytes (up to its NUL byte):\n" << sent;
  std::string rest;
  std::getline(file, rest);
  std::cout << "the file goes on after the NUL with \"" << rest << "\"\n";
  file.close();
  std::remove(path.c_str());

  int closed_port = 0;
  {
    const trel::SocketServer gone(0, 1, trel::NonBlockingSocket, kLoopback);
    closed_port = gone.LocalPort();
  }
  std::cout << "an avatar message to a port nobody listens on (the error goes to standard error):"
            << std::endl;
  trel::write_string_to_socket("nobody", kLoopback, closed_port);
  server.Close();
  return 0;
}
