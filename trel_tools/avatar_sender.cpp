#include "trel_tools/avatar_sender.h"

#include <chrono>
#include <iostream>
#include <thread>
#include <vector>

#include "trel_tools/Socket.h"

namespace trel {

namespace {

constexpr std::chrono::milliseconds kPauseAfterMessage{500};
constexpr std::streamsize kFileBlock = 64 * 1024;

std::string xml_escaped(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '\'': escaped += "&apos;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c; break;
    }
  }
  return escaped;
}

void report(const std::string& error) { std::cerr << "An error occured: " << error << std::endl; }

}  // namespace

void write_string_to_socket(std::string name, std::string host, int port) {
  try {
    const std::string declaration = "<?xml version='1.0' encoding='utf-8'?>";
    const std::string message = "<avatar name='" + xml_escaped(name) + "'/>";
    SocketClient client(host, port);
    client.SendBytes(declaration);
    client.SendBytes(message);
    client.Close();
    std::this_thread::sleep_for(kPauseAfterMessage);
  } catch (const std::string& error) {
    report(error);
  }
}

void write_file_to_socket(std::ifstream& file, std::string host, int port) {
  try {
    SocketClient client(host, port);
    std::vector<char> block(static_cast<std::size_t>(kFileBlock) + 1);
    for (;;) {
      // getline with a NUL delimiter stops at the first NUL and consumes it,
      // which leaves the file where a byte-by-byte reader would stop.
      file.getline(block.data(), kFileBlock + 1, '\0');
      const std::streamsize extracted = file.gcount();
      if (file.eof()) {
        if (extracted > 0) client.SendBytes(std::string(block.data(), static_cast<std::size_t>(extracted)));
        file.setstate(std::ios::failbit);
        break;
      }
      if (file.fail()) {
        if (extracted < kFileBlock) break;  // a stream error, not a full block
        client.SendBytes(std::string(block.data(), static_cast<std::size_t>(extracted)));
        file.clear();
        continue;
      }
      if (extracted > 1) client.SendBytes(std::string(block.data(), static_cast<std::size_t>(extracted - 1)));
      break;
    }
    client.Close();
  } catch (const std::string& error) {
    report(error);
  }
}

}  // namespace trel
