#include "trel_tools/Socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <atomic>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include "tests/loopback.h"

namespace {

using namespace trel;
using namespace trel_test;

struct ExposedClient : SocketClient {
  using SocketClient::SocketClient;
  using Socket::handle;
};

struct AdoptedSocket : Socket {
  explicit AdoptedSocket(int handle) : Socket(handle) {}
};

// A loopback listener, a client connected to it and the accepted end.
struct Connection {
  SocketServer server{0, 32, NonBlockingSocket, kLoopback};
  std::unique_ptr<ExposedClient> client = std::make_unique<ExposedClient>(kLoopback, server.LocalPort());
  std::unique_ptr<Socket> accepted = accept_within(server);
};

// What `run` throws as a Text; a value-initialised Text when it throws nothing.
template <class Text, class Run>
Text thrown(Run run) {
  try {
    run();
  } catch (const Text& text) {
    return text;
  }
  return Text();
}

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  return bytes;
}

TEST(Socket, ReceivesWhatIsPendingAndSelectsOnlyReadableSockets) {
  Connection c;
  ASSERT_TRUE(c.accepted);
  EXPECT_EQ(c.server.Accept(), nullptr);
  EXPECT_EQ(c.accepted->ReceiveBytes(), "");
  EXPECT_FALSE(SocketSelect(c.accepted.get(), c.client.get(), NonBlockingSocket).Readable(c.accepted.get()));
  const std::string sent = pattern(3000);  // receives of 1024, 1024 and 952 bytes
  c.client->SendBytes(sent);
  ASSERT_TRUE(wait_readable(*c.accepted));
  const SocketSelect both(c.client.get(), c.accepted.get(), NonBlockingSocket);
  EXPECT_TRUE(both.Readable(c.accepted.get()));
  EXPECT_FALSE(both.Readable(c.client.get()));
  EXPECT_FALSE(both.Readable(&c.server));
  EXPECT_EQ(c.accepted->ReceiveBytes(), sent);
  EXPECT_EQ(c.accepted->ReceiveBytes(), "");
}

TEST(Socket, ReceiveLineStopsAfterEachNewlineOrAtTheClose) {
  const std::string longer(2500, 'q');
  const std::vector<std::vector<std::string>> cases = {  // sent, then the lines received
      {"abc", "abc", ""},
      {"abc\r\n", "abc\r\n", ""},
      {"x\n\ny\nz", "x\n", "\n", "y\n", "z", ""},
      {longer + "\nend", longer + "\n", "end", ""},
  };
  for (const std::vector<std::string>& test : cases) {
    Connection c;
    ASSERT_TRUE(c.accepted);
    c.client->SendBytes(test[0]);
    c.client->Close();
    ASSERT_TRUE(wait_readable(*c.accepted));
    for (std::size_t i = 1; i < test.size(); ++i) EXPECT_EQ(c.accepted->ReceiveLine(), test[i]) << test[0];
  }
}

TEST(Socket, CopiesCloseTheirConnectionOnceAndNoDescriptorOpenedLater) {
  Connection c;
  ASSERT_TRUE(c.accepted);
  auto copy = std::make_unique<SocketClient>(*c.client);
  c.client.reset();
  copy->SendLine("still open");
  ASSERT_TRUE(wait_readable(*c.accepted));
  EXPECT_EQ(c.accepted->ReceiveLine(), "still open\n");
  auto closer = std::make_unique<SocketClient>(*copy);
  closer->Close();
  EXPECT_EQ(copy->ReceiveLine(), "");
  ASSERT_TRUE(wait_readable(*c.accepted));
  EXPECT_EQ(c.accepted->ReceiveBytes(), "");
  SocketClient later(kLoopback, c.server.LocalPort());  // takes the descriptor number just freed
  std::unique_ptr<Socket> later_peer = accept_within(c.server);
  ASSERT_TRUE(later_peer);
  copy.reset();
  closer.reset();
  later.SendLine("alive");
  ASSERT_TRUE(wait_readable(*later_peer));
  EXPECT_EQ(later_peer->ReceiveLine(), "alive\n");
}

TEST(Socket, AssignmentReleasesTheOldConnectionAndSharesTheNewOne) {
  Connection a, b;
  ASSERT_TRUE(a.accepted && b.accepted);
  const int live = Socket::NofSockets();
  *a.client = *b.client;
  *a.client = *a.client;
  EXPECT_EQ(Socket::NofSockets(), live);
  ASSERT_TRUE(wait_readable(*a.accepted));
  EXPECT_EQ(a.accepted->ReceiveBytes(), "");
  a.client->SendLine("through a");
  ASSERT_TRUE(wait_readable(*b.accepted));
  EXPECT_EQ(b.accepted->ReceiveLine(), "through a\n");
}

TEST(Socket, LiveCountAndDescriptorsReturnToTheStartEveryRound) {
  ASSERT_EQ(Socket::NofSockets(), 0);
  const int descriptors = open_descriptor_count();
  for (int round = 0; round < 2; ++round) {
    {
      Connection c;
      ASSERT_TRUE(c.accepted);
      const SocketClient copy(*c.client);
      EXPECT_EQ(Socket::NofSockets(), 4);
      EXPECT_EQ(open_descriptor_count(), descriptors + 3);  // listener, client, accepted end
      c.accepted->SendLine("round");
      ASSERT_TRUE(wait_readable(*c.client));
      EXPECT_EQ(c.client->ReceiveLine(), "round\n");
    }
    EXPECT_EQ(Socket::NofSockets(), 0);
    EXPECT_EQ(open_descriptor_count(), descriptors);
  }
}

TEST(Socket, FailuresThrowTheirTextsAndLeaveNothingOpen) {
  const int descriptors = open_descriptor_count();
  int port = 0;
  {
    SocketServer listener(0, 1, NonBlockingSocket, kLoopback);
    port = listener.LocalPort();
    EXPECT_STREQ(thrown<const char*>([&] { SocketServer(port, 1, NonBlockingSocket, kLoopback); }), "INVALID_SOCKET");
    listener.Close();
    EXPECT_STREQ(thrown<const char*>([&] { SocketSelect(&listener, nullptr); }), "Error in select");
  }
  EXPECT_EQ(thrown<std::string>([&] { SocketClient(kLoopback, port); }), "Connection refused");
  EXPECT_EQ(Socket::NofSockets(), 0);
  EXPECT_EQ(open_descriptor_count(), descriptors);
}

TEST(Socket, PortsOutsideTheTcpRangeAreRefused) {
  const int descriptors = open_descriptor_count();
  // 70000 and 65536 + 4464 would land on 4464, -1 on 65535.
  for (const int port : {-1, 65536, 70000, 65536 + 4464, INT_MIN, INT_MAX}) {
    EXPECT_STREQ(thrown<const char*>([&] { SocketServer(port, 1, NonBlockingSocket, kLoopback); }), "INVALID_SOCKET")
        << port;
    EXPECT_EQ(thrown<std::string>([&] { SocketClient(kLoopback, port); }),
              "port " + std::to_string(port) + " is outside 0..65535")
        << port;
  }
  EXPECT_EQ(Socket::NofSockets(), 0);
  EXPECT_EQ(open_descriptor_count(), descriptors);
}

TEST(Socket, SendingToAVanishedPeerLeavesTheProcessRunning) {
  Connection c;
  ASSERT_TRUE(c.accepted);
  c.accepted.reset();
  for (int i = 0; i < 8; ++i) c.client->SendBytes(std::string(1 << 20, 'x'));
  EXPECT_EQ(c.client->ReceiveLine(), "");
}

TEST(Socket, SendBytesDeliversEverythingWhenSignalsCutSendsShort) {
  struct sigaction interrupt = {}, previous = {};
  interrupt.sa_handler = [](int) {};  // no SA_RESTART: a blocked send returns what it took
  ASSERT_EQ(sigaction(SIGUSR1, &interrupt, &previous), 0);
  Connection c;
  ASSERT_TRUE(c.accepted);
  const std::string sent = pattern(16 << 20);
  std::string received;
  std::thread reader([&, sender = pthread_self()] {
    for (int i = 0; i < kPolls && received.size() < sent.size(); ++i, pause_one_poll()) {
      pthread_kill(sender, SIGUSR1);
      received += c.accepted->ReceiveBytes();
    }
  });
  c.client->SendBytes(sent);
  reader.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
}

TEST(SocketSelect, WaitsOnDescriptorsBeyondFdSetSize) {
  const int high = FD_SETSIZE + 64;
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  limit.rlim_cur = std::max(limit.rlim_cur, static_cast<rlim_t>(high) + 1);
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) GTEST_SKIP() << "cannot open descriptor " << high;
  Connection c;
  ASSERT_TRUE(c.accepted);
  AdoptedSocket high_end(dup2(c.client->handle(), high));
  ASSERT_EQ(high_end.LocalPort(), c.client->LocalPort());
  EXPECT_FALSE(SocketSelect(&high_end, nullptr, NonBlockingSocket).Readable(&high_end));
  c.accepted->SendLine("high");
  ASSERT_TRUE(wait_readable(high_end));
  EXPECT_EQ(high_end.ReceiveLine(), "high\n");
}

// One server echoes a line for each of 200 clients, which come one after the
// other and then from 20 threads at once.
TEST(SocketServer, EchoesEveryClientOfALoadAndClosesEverything) {
  constexpr int kClients = 200;
  const int descriptors = open_descriptor_count();
  for (const int threads : {1, 20}) {
    std::atomic<int> echoed{0};
    {
      SocketServer server(0, 32, NonBlockingSocket, kLoopback);
      std::thread echo([&] {
        for (int i = 0; i < kClients; ++i) {
          std::unique_ptr<Socket> peer = accept_within(server);
          if (!peer || !wait_readable(*peer)) return;
          peer->SendBytes(peer->ReceiveLine());
        }
      });
      std::vector<std::thread> clients;
      for (int t = 0; t < threads; ++t)
        clients.emplace_back([&, t] {
          for (int k = t; k < kClients; k += threads) {
            SocketClient client(kLoopback, server.LocalPort());
            const std::string line = "client " + std::to_string(k) + " of " + std::to_string(threads);
            client.SendLine(line);
            if (!wait_readable(client) || client.ReceiveLine() != line + "\n") return;
            ++echoed;
          }
        });
      for (std::thread& client : clients) client.join();
      echo.join();
    }
    EXPECT_EQ(echoed.load(), kClients) << threads << " at a time";
    EXPECT_EQ(Socket::NofSockets(), 0);
    EXPECT_EQ(open_descriptor_count(), descriptors);
  }
}

}  // namespace
