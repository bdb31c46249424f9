#include "trel_tools/avatar_sender.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "tests/loopback.h"
#include "trel_tools/Socket.h"
#include "trel_tools/math_utils.h"

namespace {

using trel_test::Collector;
using trel_test::kLoopback;

TEST(WriteStringToSocket, SendsTheDeclarationAndTheNameAsWellFormedXml) {
  const std::string declaration = "<?xml version='1.0' encoding='utf-8'?>";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"alice", "<avatar name='alice'/>"},
      {"", "<avatar name=''/>"},
      {"Tom & \"Jerry\" <'s>", "<avatar name='Tom &amp; &quot;Jerry&quot; &lt;&apos;s&gt;'/>"},
  };
  for (const auto& [name, message] : cases) {
    Collector listener;
    trel::write_string_to_socket(name, kLoopback, listener.port());
    EXPECT_EQ(listener.received(), declaration + message);
  }
}

TEST(WriteStringToSocket, ReportsARefusedConnectionOnStandardError) {
  int port = 0;
  {
    const trel::SocketServer gone(0, 1, trel::NonBlockingSocket, kLoopback);
    port = gone.LocalPort();
  }
  testing::internal::CaptureStderr();
  trel::write_string_to_socket("alice", kLoopback, port);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "An error occured: Connection refused\n");
}

TEST(WriteFileToSocket, SendsUpToTheFirstNulAndLeavesTheFileAfterIt) {
  struct Case {
    std::string content, sent;
    int next;  // what get() reads after the send
  };
  std::string high_bytes(200000, '\0');  // several blocks, 0xff included, no NUL
  for (std::size_t i = 0; i < high_bytes.size(); ++i) high_bytes[i] = static_cast<char>(1 + i % 255);
  const std::string block(65536, 'b');
  const std::vector<Case> cases = {
      {std::string("ab\0cd", 5), "ab", 'c'},
      {"", "", EOF},
      {std::string("\0x", 2), "", 'x'},
      {block + std::string("\0tail", 5), block, 't'},
      {high_bytes, high_bytes, EOF},
  };
  // Each content from a regular file and from a pipe, which cannot seek.
  const std::string path = testing::TempDir() + "avatar_sender_" + std::to_string(trel::pid());
  for (const bool pipe : {false, true}) {
    for (const Case& test : cases) {
      std::remove(path.c_str());
      std::thread writer;
      if (pipe) {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        writer = std::thread([&] { std::ofstream(path, std::ios::binary) << test.content; });
      } else {
        std::ofstream(path, std::ios::binary) << test.content;
      }
      std::ifstream file(path, std::ios::binary);
      Collector listener;
      trel::write_file_to_socket(file, kLoopback, listener.port());
      EXPECT_TRUE(listener.received() == test.sent) << test.sent.size() << " bytes expected, pipe " << pipe;
      EXPECT_EQ(file.get(), test.next) << test.sent.size() << " bytes, pipe " << pipe;
      if (writer.joinable()) writer.join();
    }
  }
  std::remove(path.c_str());
}

}  // namespace
