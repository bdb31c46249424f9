#include "trel_tools/avatar_sender.h"

#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>

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

// The next bytes to send, in `piece`; false when they end the payload because
// the first NUL or the end of the file was reached. The file is left where a
// reader taking one character at a time would stop: just after the NUL, or at
// the end with eofbit and failbit set.
bool next_piece(std::ifstream& file, bool seekable, std::string& piece) {
  piece.resize(static_cast<std::size_t>(kFileBlock) + 1);
  if (seekable) {
    // Whole blocks straight from the file; a block holding a NUL is cut there
    // and the file set back to just after it.
    file.read(&piece[0], kFileBlock);
    const std::streamsize got = file.gcount();
    const void* nul = std::memchr(piece.data(), '\0', static_cast<std::size_t>(got));
    if (nul == nullptr) {
      piece.resize(static_cast<std::size_t>(got));
      return got == kFileBlock;
    }
    const std::streamsize kept = static_cast<const char*>(nul) - piece.data();
    piece.resize(static_cast<std::size_t>(kept));
    file.clear();
    file.seekg(kept + 1 - got, std::ios::cur);
    return false;
  }
  // A pipe cannot be set back: getline with a NUL delimiter stops at the
  // first NUL and consumes it, and fails only on a full block or an error.
  file.getline(&piece[0], kFileBlock + 1, '\0');
  const std::streamsize got = file.gcount();
  if (file.eof()) {
    piece.resize(static_cast<std::size_t>(got));
    file.setstate(std::ios::failbit);
    return false;
  }
  if (file.fail()) {
    piece.resize(static_cast<std::size_t>(got));
    if (got < kFileBlock) return false;
    file.clear();
    return true;
  }
  piece.resize(static_cast<std::size_t>(got - 1));
  return false;
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
    const bool seekable = file.tellg() != std::streampos(-1);
    std::string piece;
    bool more = true;
    while (more) {
      more = next_piece(file, seekable, piece);
      if (!piece.empty()) client.SendBytes(piece);
    }
    client.Close();
  } catch (const std::string& error) {
    report(error);
  }
}

}  // namespace trel
