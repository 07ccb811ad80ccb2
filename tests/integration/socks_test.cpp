// The SOCKS5 service end to end: the method negotiation and the login, the
// request (CONNECT, BIND, UDP ASSOCIATE) with curl and raw sockets against a
// loopback origin, and the silent end of every failure with its monitor line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/filter_text.h"
#include "core/log_files.h"
#include "core/schedule.h"
#include "core/users.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

const std::string kPage = "through the socks port\n";

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

std::string Port(int port) { return Bytes({port >> 8 & 0xFF, port & 0xFF}); }

std::string Loopback() { return Bytes({127, 0, 0, 1}); }

std::string ConnectByAddress(int port) { return Bytes({5, 1, 0, 1}) + Loopback() + Port(port); }

std::string ConnectByName(const std::string& name, int port) {
  return Bytes({5, 1, 0, 3, static_cast<int>(name.size())}) + name + Port(port);
}

std::string Login(const std::string& user, const std::string& password) {
  return Bytes({1, static_cast<int>(user.size())}) + user + Bytes({static_cast<int>(password.size())}) + password;
}

std::string ByName(int command, const std::string& name, int port) {
  return Bytes({5, command, 0, 3, static_cast<int>(name.size())}) + name + Port(port);
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class SocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    origin_.Serve("page.txt", kPage);
    ASSERT_TRUE(origin_.Start()) << ReadFile(origin_.folder() + "/error.log");
  }
  // A gateway with the SOCKS5 port open and these accounts.
  void Open(const std::vector<UserRecord>& users, const std::string& systemLines = "EnableLoopbackTargets=1\r\n") {
    socksPort_ = FreePort();
    gateway_ = std::make_unique<ProxyGateway>(
        "EnableSocks5=1\r\nSocks5Port=" + std::to_string(socksPort_) + "\r\n" + systemLines, AccountSections(users));
    ASSERT_TRUE(gateway_->started) << gateway_->process->Output();
    ASSERT_TRUE(WaitForPort(socksPort_));
  }
  // A client connection past the greeting without authentication.
  int Greeted() {
    int fd = ConnectLoopback(socksPort_);
    SendAll(fd, Bytes({5, 1, 0}));
    EXPECT_EQ(ReadBytes(fd, 2), Bytes({5, 0}));
    return fd;
  }
  std::string CurlSocks(const std::string& flag, const std::string& host, const std::string& options = "") {
    int rc = 0;
    return RunProgram("curl -s --max-time 20 " + flag + " 127.0.0.1:" + std::to_string(socksPort_) + " " + options +
                          " http://" + host + ":" + std::to_string(origin_.port()) + "/page.txt",
                      &rc);
  }
  std::string TodaysLog() const {
    return ReadFile(gateway_->home + "/Logging/" + ConnectionLogName(SystemClock().LocalNow()));
  }

  NginxOrigin origin_;
  std::unique_ptr<ProxyGateway> gateway_;
  int socksPort_ = 0;
};

TEST_F(SocksTest, TheLoginMethodIsChosenWhenOfferedAndAGreetingMayComeInPieces) {
  Open({AddressUser("127.0.0.1", "Loopback")});
  int fd = ConnectLoopback(socksPort_);
  SendAll(fd, Bytes({5, 2, 0, 2}));
  EXPECT_EQ(ReadBytes(fd, 2), Bytes({5, 2}));
  ::close(fd);
  fd = ConnectLoopback(socksPort_);
  for (char c : Bytes({5, 3, 0, 1, 3})) {
    SendAll(fd, std::string(1, c));
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(ReadBytes(fd, 2), Bytes({5, 0}));
  // The request sent in pieces too, and the tunnel's first bytes with its end.
  std::string request = ConnectByAddress(origin_.port());
  SendAll(fd, request.substr(0, 3));
  std::this_thread::sleep_for(100ms);
  SendAll(fd, request.substr(3) + "GET /page.txt HTTP/1.0\r\n\r\n");
  std::string answer = ReadUntilClosed(fd);
  EXPECT_EQ(answer.substr(0, 10), Bytes({5, 0, 0, 1}) + Loopback() + Port(origin_.port()));
  EXPECT_NE(answer.find(kPage), std::string::npos) << answer;
  ::close(fd);
  EXPECT_EQ(gateway_->process->Stop(), 0) << gateway_->process->Output();
}

TEST_F(SocksTest, CurlFetchesByAddressAndByNameAndTheConnectionsAreLogged) {
  Open({LoginUser("bob", "pw")});
  EXPECT_EQ(CurlSocks("--socks5", "127.0.0.1", "--proxy-user bob:pw"), kPage);
  EXPECT_EQ(CurlSocks("--socks5-hostname", "localhost", "--proxy-user bob:pw"), kPage);
  EXPECT_EQ(CurlSocks("--socks5-hostname", "localhost", "--proxy-user bob:wrong"), "");
  EXPECT_EQ(CurlSocks("--socks5", "127.0.0.1"), "") << "no login and no address user";
  EXPECT_EQ(gateway_->process->Stop(), 0) << gateway_->process->Output();
  // One line for each connection that got through, with the host as the
  // client named it and the bytes each way.
  std::vector<std::string> lines;
  std::string log = TodaysLog();
  for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(log.substr(at, end - at));
  ASSERT_EQ(lines.size(), 2u) << log;
  const char* hosts[] = {"127.0.0.1", "localhost"};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(lines[i].substr(0, 34), "Socks5, User bob, bob, 127.0.0.1, ") << lines[i];
    EXPECT_EQ(LogField(lines[i], 6), hosts[i]) << lines[i];
    EXPECT_GT(std::stoll(std::string(LogField(lines[i], 8))), static_cast<long long>(kPage.size())) << lines[i];
    EXPECT_GT(std::stoll(std::string(LogField(lines[i], 9))), 0) << lines[i];
  }
}

TEST_F(SocksTest, TheUsersSpeedLimitHoldsForATunnel) {
  origin_.Serve("blob.bin", RandomBytes(150 * 1024));
  UserRecord limited = LoginUser("slow", "pw");
  limited.rules.speedNormal = 50;  // KB/s
  Open({limited});
  auto start = std::chrono::steady_clock::now();
  int rc = 0;
  std::string body =
      RunProgram("curl -s --max-time 30 --socks5 127.0.0.1:" + std::to_string(socksPort_) +
                     " --proxy-user slow:pw http://127.0.0.1:" + std::to_string(origin_.port()) + "/blob.bin",
                 &rc);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(body, RandomBytes(150 * 1024));
  double rate = 150.0 / seconds;  // KB/s
  EXPECT_LT(rate, 50 * 1.5) << "took " << seconds << " s";
  EXPECT_GT(rate, 50 / 3.0) << "took " << seconds << " s";
}

TEST_F(SocksTest, AConnectToANameIsAnsweredWithItsAddressAndTheRequestedPort) {
  Open({AddressUser("127.0.0.1", "Loopback")});
  int fd = Greeted();
  SendAll(fd, ConnectByName("localhost", origin_.port()));
  EXPECT_EQ(ReadBytes(fd, 10), Bytes({5, 0, 0, 1}) + Loopback() + Port(origin_.port()));
  SendAll(fd, "GET /page.txt HTTP/1.0\r\n\r\n");
  EXPECT_NE(ReadUntilClosed(fd).find(kPage), std::string::npos);
  ::close(fd);
}

TEST_F(SocksTest, AnIpv6AddressOrAnUnknownCommandClosesWithoutAReply) {
  Open({AddressUser("127.0.0.1", "Loopback")});
  for (const std::string& request :
       {Bytes({5, 1, 0, 4}) + std::string(16, '\0') + Port(80), Bytes({5, 9, 0, 1}) + Loopback() + Port(80)}) {
    int fd = Greeted();
    SendAll(fd, request);
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(fd, 5s, &closed), "");
    EXPECT_TRUE(closed);
    ::close(fd);
  }
}

TEST_F(SocksTest, UnmatchedCredentialsPassTheLoginAndTheRequestEndsWithAMonitorLine) {
  Open({LoginUser("bob", "pw")});
  int fd = ConnectLoopback(socksPort_);
  SendAll(fd, Bytes({5, 1, 2}) + Login("eve", "guess"));
  EXPECT_EQ(ReadBytes(fd, 4), Bytes({5, 2, 1, 0}));
  SendAll(fd, ConnectByAddress(origin_.port()));
  bool closed = false;
  EXPECT_EQ(ReadUntilClosed(fd, 5s, &closed), "");
  EXPECT_TRUE(closed);
  ::close(fd);
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, eve, 422, 127.0.0.1\n"))
      << gateway_->process->Output();
  EXPECT_EQ(origin_.WaitForLog(0, 0s), "");
}

TEST_F(SocksTest, AnAddressUserNeedsNoLoginAndTheLoopbackIsRefusedUnlessAllowed) {
  Open({AddressUser("127.0.0.1", "Loopback")}, "");
  int fd = Greeted();
  SendAll(fd, ConnectByName("localhost", origin_.port()));
  bool closed = false;
  EXPECT_EQ(ReadUntilClosed(fd, 5s, &closed), "");
  EXPECT_TRUE(closed);
  ::close(fd);
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, 127.0.0.1, 498, localhost\n"))
      << gateway_->process->Output();
  EXPECT_EQ(origin_.WaitForLog(0, 0s), "") << "nothing reached the loopback origin";
}

TEST_F(SocksTest, ASilentClientIsClosedAtTheOpeningDeadlineButAQuietTunnelIsNot) {
  Open({AddressUser("127.0.0.1", "Loopback")}, "EnableLoopbackTargets=1\r\nHeadTimeout=1\r\n");
  int silent = ConnectLoopback(socksPort_);
  SendAll(silent, Bytes({5, 1}));
  int tunnel = Greeted();
  SendAll(tunnel, ConnectByAddress(origin_.port()));
  EXPECT_EQ(ReadBytes(tunnel, 10).size(), 10u);
  bool closed = false;
  EXPECT_EQ(ReadUntilClosed(silent, 4s, &closed), "");
  EXPECT_TRUE(closed) << "the greeting never completed";
  std::this_thread::sleep_for(1500ms);
  SendAll(tunnel, "GET /page.txt HTTP/1.0\r\n\r\n");
  EXPECT_NE(ReadUntilClosed(tunnel).find(kPage), std::string::npos);
  ::close(silent);
  ::close(tunnel);
}

TEST_F(SocksTest, BindListensOnTheAddressFacingTheClientAndReportsItsPeer) {
  Open({AddressUser("127.0.0.1", "Loopback")});
  int fd = Greeted();
  SendAll(fd, Bytes({5, 2, 0, 1}) + Loopback() + Port(0));
  std::string first = ReadBytes(fd, 10);
  ASSERT_EQ(first.substr(0, 8), Bytes({5, 0, 0, 1}) + Loopback()) << first.size();
  int port = static_cast<std::uint8_t>(first[8]) << 8 | static_cast<std::uint8_t>(first[9]);
  int peer = ConnectLoopback(port);
  ASSERT_GE(peer, 0);
  sockaddr_in own{};
  socklen_t length = sizeof(own);
  ::getsockname(peer, reinterpret_cast<sockaddr*>(&own), &length);
  EXPECT_EQ(ReadBytes(fd, 10), Bytes({5, 0, 0, 1}) + Loopback() + Port(ntohs(own.sin_port)));
  SendAll(peer, "from the peer");
  EXPECT_EQ(ReadBytes(fd, 13), "from the peer");
  SendAll(fd, "from the client");
  EXPECT_EQ(ReadBytes(peer, 15), "from the client");
  ::close(peer);
  bool closed = false;
  ReadUntilClosed(fd, 5s, &closed);
  EXPECT_TRUE(closed);
  ::close(fd);
}

TEST_F(SocksTest, UdpAssociateRelaysBothWaysAndDropsFragments) {
  Open({AddressUser("127.0.0.1", "Loopback")});
  int echoPort = 0;
  int echo = DatagramSocket(0x7F000001, echoPort);
  int clientPort = 0;
  int client = DatagramSocket(0x7F000001, clientPort);
  ASSERT_GE(echo, 0);
  ASSERT_GE(client, 0);
  int fd = Greeted();
  SendAll(fd, Bytes({5, 3, 0, 1, 0, 0, 0, 0, 0, 0}));
  std::string reply = ReadBytes(fd, 10);
  ASSERT_EQ(reply.substr(0, 8), Bytes({5, 0, 0, 1}) + Loopback());
  int relayPort = static_cast<std::uint8_t>(reply[8]) << 8 | static_cast<std::uint8_t>(reply[9]);

  const std::string header = Bytes({0, 0, 0, 1}) + Loopback() + Port(echoPort);
  SendDatagram(client, header + "ping", relayPort);
  int from = 0;
  EXPECT_EQ(ReceiveDatagram(echo, &from), "ping");
  const std::string answer = "a reply of 23 bytes....";
  SendDatagram(echo, answer, from);
  std::string relayed = ReceiveDatagram(client);
  EXPECT_EQ(relayed.size(), answer.size() + 10);
  EXPECT_EQ(relayed, header + answer);

  // A fragment is dropped; the next whole datagram still goes through.
  SendDatagram(client, Bytes({0, 0, 1, 1}) + Loopback() + Port(echoPort) + "part", relayPort);
  SendDatagram(client, header + "whole", relayPort);
  EXPECT_EQ(ReceiveDatagram(echo), "whole");
  EXPECT_EQ(ReceiveDatagram(echo, nullptr, 500ms), "") << "nothing of the fragment";
  ::close(fd);
  ::close(echo);
  ::close(client);
  EXPECT_EQ(gateway_->process->Stop(), 0) << gateway_->process->Output();
  EXPECT_NE(TodaysLog().find("Socks5, Loopback, 127.0.0.1, 127.0.0.1, "), std::string::npos) << TodaysLog();
}

TEST_F(SocksTest, ADatagramToTheLoopbackIsDroppedWithAMonitorLineUnlessAllowed) {
  Open({AddressUser("127.0.0.1", "Loopback")}, "");
  int echoPort = 0;
  int echo = DatagramSocket(0x7F000001, echoPort);
  int clientPort = 0;
  int client = DatagramSocket(0x7F000001, clientPort);
  ASSERT_GE(echo, 0);
  ASSERT_GE(client, 0);
  int fd = Greeted();
  SendAll(fd, Bytes({5, 3, 0, 1, 0, 0, 0, 0, 0, 0}));
  std::string reply = ReadBytes(fd, 10);
  ASSERT_EQ(reply.size(), 10u) << "the association itself names no destination";
  int relayPort = static_cast<std::uint8_t>(reply[8]) << 8 | static_cast<std::uint8_t>(reply[9]);
  SendDatagram(client, Bytes({0, 0, 0, 1}) + Loopback() + Port(echoPort) + "ping", relayPort);
  EXPECT_EQ(ReceiveDatagram(echo, nullptr, 1s), "");
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, 127.0.0.1, 498, 127.0.0.1\n"))
      << gateway_->process->Output();
  ::close(fd);
  ::close(echo);
  ::close(client);
}

TEST_F(SocksTest, BindAndUdpAssociateNeedAUserWhicheverAddressTheyName) {
  Open({LoginUser("bob", "pw")}, "EnableLoopbackTargets=1\r\nLocalHosts=127.0.0.1\r\n");
  // The gateway's own name and a LocalHosts address: neither makes a BIND
  // or an association "local".
  for (const std::string& request :
       {ByName(2, "brindlex", 0), ByName(3, "brindlex", 0), Bytes({5, 2, 0, 1}) + Loopback() + Port(0),
        Bytes({5, 3, 0, 1}) + Loopback() + Port(0)}) {
    int fd = Greeted();
    SendAll(fd, request);
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(fd, 5s, &closed), "") << "command " << int(request[1]);
    EXPECT_TRUE(closed);
    ::close(fd);
  }
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, , 422, brindlex\n")) << gateway_->process->Output();
  // A CONNECT to a local server still needs nobody: the loopback origin is
  // on the LocalHosts list.
  int fd = Greeted();
  SendAll(fd, ConnectByAddress(origin_.port()) + "GET /page.txt HTTP/1.0\r\n\r\n");
  EXPECT_NE(ReadUntilClosed(fd).find(kPage), std::string::npos);
  ::close(fd);
}

// An association of the loopback's address user, its relay port in `relayPort`.
int Associated(int& relayPort, const std::function<int()>& greeted) {
  int fd = greeted();
  SendAll(fd, Bytes({5, 3, 0, 1, 0, 0, 0, 0, 0, 0}));
  std::string reply = ReadBytes(fd, 10);
  relayPort = reply.size() == 10 ? static_cast<std::uint8_t>(reply[8]) << 8 | static_cast<std::uint8_t>(reply[9]) : 0;
  return fd;
}

TEST_F(SocksTest, DatagramsToALocalHostAreTheUsersTrafficAndFiltersHoldForEachDestination) {
  UserRecord user = AddressUser("127.0.0.1", "Loopback");
  user.denyFilter = FormatFilterText(FilterList{true, {FilterEntry{"*localhost*", kFilterUrl, 0}}});
  Open({user}, "EnableLoopbackTargets=1\r\nLocalHosts=127.0.0.1\r\n");
  int echoPort = 0;
  int echo = DatagramSocket(0x7F000001, echoPort);
  int clientPort = 0;
  int client = DatagramSocket(0x7F000001, clientPort);
  int relayPort = 0;
  int fd = Associated(relayPort, [this] { return Greeted(); });
  ASSERT_NE(relayPort, 0);

  // The filter refuses the name: that datagram is dropped, the association goes on.
  SendDatagram(client, Bytes({0, 0, 0, 3, 9}) + "localhost" + Port(echoPort) + "refused", relayPort);
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, 127.0.0.1, 493, localhost\n"))
      << gateway_->process->Output();
  const std::string header = Bytes({0, 0, 0, 1}) + Loopback() + Port(echoPort);
  SendDatagram(client, header + "ping", relayPort);
  int from = 0;
  EXPECT_EQ(ReceiveDatagram(echo, &from), "ping") << "only the refused datagram was dropped";
  EXPECT_EQ(ReceiveDatagram(echo, nullptr, 300ms), "");
  const std::string answer = "a reply of 23 bytes....";
  SendDatagram(echo, answer, from);
  EXPECT_EQ(ReceiveDatagram(client), header + answer);
  ::close(fd);
  ::close(echo);
  ::close(client);
  EXPECT_EQ(gateway_->process->Stop(), 0) << gateway_->process->Output();
  // Counted and logged, although 127.0.0.1 is on the LocalHosts list.
  std::string log = TodaysLog();
  size_t at = log.find("Socks5, Loopback, 127.0.0.1, 127.0.0.1, ");
  ASSERT_NE(at, std::string::npos) << log;
  std::string line = log.substr(at, log.find('\n', at) - at);
  EXPECT_EQ(LogField(line, 8), std::to_string(answer.size())) << line;
  EXPECT_EQ(LogField(line, 9), "4") << line;
}

TEST_F(SocksTest, AnAddressBeyondItsShareOfRecordsIsClosedAtAcceptWhileOthersAreServed) {
  Open({AddressUser("127.0.0.1", "Loopback"),
        [] {
          UserRecord second = AddressUser("127.0.0.1", "Loopback");
          second.login = "127.0.0.2";
          second.name = "Second";
          return second;
        }()},
       "EnableLoopbackTargets=1\r\nMaxConnectionsPerAddress=5\r\n");
  std::vector<int> held;
  for (int i = 0; i < 5; ++i) held.push_back(Greeted());
  for (int i = 0; i < 2; ++i) {
    int extra = ConnectLoopback(socksPort_);
    SendAll(extra, Bytes({5, 1, 0}));
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(extra, 5s, &closed), "");
    EXPECT_TRUE(closed) << "connection " << 6 + i << " of one address";
    ::close(extra);
  }
  int other = ConnectLoopbackFrom(0x7F000002, socksPort_);
  ASSERT_GE(other, 0);
  SendAll(other, Bytes({5, 1, 0}));
  EXPECT_EQ(ReadBytes(other, 2), Bytes({5, 0})) << "another address is served";
  ::close(other);
  // Once one of the five is gone, the address has room again.
  ::close(held.back());
  held.pop_back();
  bool served = false;
  for (int attempt = 0; attempt < 50 && !served; ++attempt) {
    int again = ConnectLoopback(socksPort_);
    SendAll(again, Bytes({5, 1, 0}));
    served = ReadBytes(again, 2, 1s) == Bytes({5, 0});
    ::close(again);
    if (!served) std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(served);
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, , 499, \n")) << gateway_->process->Output();
  for (int fd : held) ::close(fd);
  EXPECT_EQ(gateway_->process->Stop(), 0);
  EXPECT_EQ(Occurrences(gateway_->process->Output(), "REFUSED, "), 1u)
      << "one line a minute per address: " << gateway_->process->Output();
}

TEST_F(SocksTest, AHundredClientsGreetingAtOnceAreAllAnswered) {
  Open({AddressUser("127.0.0.1", "Loopback")});
  std::vector<int> clients;
  for (int i = 0; i < 100; ++i) {
    int fd = ConnectLoopback(socksPort_);
    ASSERT_GE(fd, 0);
    SendAll(fd, Bytes({5, 1, 0}));
    clients.push_back(fd);
  }
  int answered = 0;
  for (int fd : clients) {
    answered += ReadBytes(fd, 2) == Bytes({5, 0});
    ::close(fd);
  }
  EXPECT_EQ(answered, 100);
}

std::string UnresolvableNameInOwnNetwork() {
  int port = FreePort();
  ProxyGateway gateway("EnableSocks5=1\r\nSocks5Port=" + std::to_string(port) + "\r\n",
                       AccountSections({AddressUser("127.0.0.1", "Loopback")}));
  if (!gateway.started || !WaitForPort(port)) return "child failed: gateway did not start";
  int fd = ConnectLoopback(port);
  SendAll(fd, Bytes({5, 1, 0}) + ConnectByName("nowhere.invalid", 80));
  bool closed = false;
  std::string answer = ReadUntilClosed(fd, 10s, &closed);
  ::close(fd);
  gateway.process->Stop();
  return (closed ? "closed after: " : "still open after: ") + std::to_string(answer.size());
}

TEST(Socks, ANameThatDoesNotResolveEndsTheConnectionSilently) {
  EXPECT_EQ(RunInOwnNetwork(UnresolvableNameInOwnNetwork), "closed after: 2");
}

}  // namespace
}  // namespace brindlex::testing
