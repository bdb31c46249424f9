#include "trel_tools/Socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/loopback.h"

namespace {

using trel::NonBlockingSocket;
using trel::Socket;
using trel::SocketClient;
using trel::SocketSelect;
using trel::SocketServer;
using trel_test::accept_within;
using trel_test::kLoopback;
using trel_test::kPolls;
using trel_test::open_descriptor_count;
using trel_test::wait_readable;

// A loopback listener, a client connected to it and the accepted end.
struct Connection {
  SocketServer server{0, 32, NonBlockingSocket, kLoopback};
  std::unique_ptr<SocketClient> client = std::make_unique<SocketClient>(kLoopback, server.LocalPort());
  std::unique_ptr<Socket> accepted = accept_within(server);
};

struct AdoptedSocket : Socket {
  explicit AdoptedSocket(int handle) : Socket(handle) {}
};

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  return bytes;
}

TEST(Socket, ReceiveBytesTakesOnlyWhatIsPending) {
  Connection c;
  ASSERT_TRUE(c.accepted);
  EXPECT_EQ(c.accepted->ReceiveBytes(), "");
  const std::string sent = pattern(3000);  // three receives of 1024, 1024 and 952
  c.client->SendBytes(sent);
  ASSERT_TRUE(wait_readable(*c.accepted));
  EXPECT_EQ(c.accepted->ReceiveBytes(), sent);
  EXPECT_EQ(c.accepted->ReceiveBytes(), "");
}

TEST(Socket, ReceiveLineStopsAfterEachNewlineOrAtTheClose) {
  struct Case {
    std::string sent;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"abc", {"abc", ""}},
      {"abc\r\n", {"abc\r\n", ""}},
      {"x\n\ny\nz", {"x\n", "\n", "y\n", "z", ""}},
      {std::string(2500, 'q') + "\nend", {std::string(2500, 'q') + "\n", "end", ""}},
  };
  for (const Case& test : cases) {
    Connection c;
    ASSERT_TRUE(c.accepted);
    c.client->SendBytes(test.sent);
    c.client->Close();
    ASSERT_TRUE(wait_readable(*c.accepted));
    for (const std::string& line : test.lines) EXPECT_EQ(c.accepted->ReceiveLine(), line) << test.sent;
  }
}

TEST(Socket, IdleSocketsAreNotReadableAndNobodyWaitingMeansNoAccept) {
  Connection c;
  ASSERT_TRUE(c.accepted);
  EXPECT_EQ(c.server.Accept(), nullptr);
  EXPECT_FALSE(SocketSelect(c.accepted.get(), c.client.get(), NonBlockingSocket).Readable(c.accepted.get()));
  c.accepted->SendLine("ping");
  ASSERT_TRUE(wait_readable(*c.client));
  const SocketSelect both(c.accepted.get(), c.client.get(), NonBlockingSocket);
  EXPECT_TRUE(both.Readable(c.client.get()));
  EXPECT_FALSE(both.Readable(c.accepted.get()));
  EXPECT_FALSE(both.Readable(&c.server));
}

TEST(Socket, CopiesShareOneConnectionClosedWhenTheLastGoes) {
  Connection c;
  ASSERT_TRUE(c.accepted);
  auto copy = std::make_unique<SocketClient>(*c.client);
  c.client.reset();
  copy->SendLine("still open");
  ASSERT_TRUE(wait_readable(*c.accepted));
  EXPECT_EQ(c.accepted->ReceiveLine(), "still open\n");
  copy.reset();
  ASSERT_TRUE(wait_readable(*c.accepted));
  EXPECT_EQ(c.accepted->ReceiveBytes(), "");
}

TEST(Socket, CloseOnOneShareLeavesDescriptorsOpenedLaterAlone) {
  Connection c;
  ASSERT_TRUE(c.accepted);
  auto copy = std::make_unique<SocketClient>(*c.client);
  c.client->Close();
  c.client->SendLine("lost");
  EXPECT_EQ(copy->ReceiveLine(), "");
  // Opened next, this socket gets the descriptor number just freed.
  SocketClient later(kLoopback, c.server.LocalPort());
  std::unique_ptr<Socket> later_peer = accept_within(c.server);
  ASSERT_TRUE(later_peer);
  c.client.reset();
  copy.reset();
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
  int free_port = 0;
  {
    SocketServer listener(0, 1, NonBlockingSocket, kLoopback);
    free_port = listener.LocalPort();
    try {
      SocketServer taken(free_port, 1, NonBlockingSocket, kLoopback);
      ADD_FAILURE() << "a second listener bound the same port";
    } catch (const char* text) {
      EXPECT_STREQ(text, "INVALID_SOCKET");
    }
    listener.Close();
    EXPECT_EQ(listener.LocalPort(), -1);
    try {
      SocketSelect(&listener, nullptr, NonBlockingSocket);
      ADD_FAILURE() << "a closed socket was waited on";
    } catch (const char* text) {
      EXPECT_STREQ(text, "Error in select");
    }
  }
  try {
    SocketClient refused(kLoopback, free_port);
    ADD_FAILURE() << "connected to a port nobody listens on";
  } catch (const std::string& text) {
    EXPECT_EQ(text, "Connection refused");
  }
  EXPECT_EQ(Socket::NofSockets(), 0);
  EXPECT_EQ(open_descriptor_count(), descriptors);
}

TEST(Socket, SendingToAVanishedPeerLeavesTheProcessRunning) {
  Connection c;
  ASSERT_TRUE(c.accepted);
  c.accepted.reset();
  const std::string chunk(1 << 20, 'x');
  for (int i = 0; i < 8; ++i) c.client->SendBytes(chunk);
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
  const pthread_t sender = pthread_self();
  std::thread reader([&] {
    for (int i = 0; i < kPolls && received.size() < sent.size(); ++i, trel_test::pause_one_poll()) {
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
  if (limit.rlim_cur <= static_cast<rlim_t>(high)) {
    limit.rlim_cur = static_cast<rlim_t>(high) + 1;
    if (limit.rlim_max < limit.rlim_cur || setrlimit(RLIMIT_NOFILE, &limit) != 0)
      GTEST_SKIP() << "cannot open descriptor " << high;
  }
  SocketServer server(0, 1, NonBlockingSocket, kLoopback);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(server.LocalPort()));
  ASSERT_EQ(inet_pton(AF_INET, kLoopback, &address.sin_addr), 1);
  const int low = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(low, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(dup2(low, high), high);
  close(low);
  AdoptedSocket client(high);
  std::unique_ptr<Socket> accepted = accept_within(server);
  ASSERT_TRUE(accepted);
  EXPECT_FALSE(SocketSelect(&client, nullptr, NonBlockingSocket).Readable(&client));
  accepted->SendLine("high");
  ASSERT_TRUE(wait_readable(client));
  EXPECT_EQ(client.ReceiveLine(), "high\n");
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
      const int port = server.LocalPort();
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
            SocketClient client(kLoopback, port);
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
