#include "reports/smtp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace brindlex::testing {
namespace {

// A mail server on loopback that answers by the book, refuses the
// recipients it is told to, and writes down every line it hears.
class LoopbackMailServer {
 public:
  explicit LoopbackMailServer(std::set<std::string> refused = {}) : refused_(std::move(refused)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot listen on loopback");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackMailServer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  int Connections() const { return connections_; }

 private:
  void Serve() {
    while (true) {
      int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      ++connections_;
      Converse(fd);
      ::close(fd);
    }
  }
  void Say(int fd, const std::string& reply) { (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL); }
  void Converse(int fd) {
    Say(fd, "220 loopback ready\r\n");
    std::string buffer;
    bool inData = false;
    char chunk[4096];
    while (true) {
      size_t end = buffer.find("\r\n");
      if (end == std::string::npos) {
        ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
        if (n <= 0) return;
        buffer.append(chunk, static_cast<size_t>(n));
        continue;
      }
      std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 2);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
      }
      if (inData) {
        if (line == ".") {
          inData = false;
          Say(fd, "250 queued\r\n");
        }
      } else if (line.rfind("RCPT TO:<", 0) == 0) {
        std::string who = line.substr(9, line.find('>') - 9);
        Say(fd, refused_.count(who) ? "550 no such user\r\n" : "250 ok\r\n");
      } else if (line == "DATA") {
        inData = true;
        Say(fd, "354 go on\r\n");
      } else if (line == "QUIT") {
        Say(fd, "221 bye\r\n");
        return;
      } else {
        Say(fd, "250 ok\r\n");
      }
    }
  }

  std::set<std::string> refused_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::atomic<int> connections_{0};
};

class SmtpClientTest : public ::testing::Test {
 protected:
  SmtpEventHandler Handler() {
    return [this](SmtpEvent event, const std::string& detail) {
      events_.push_back(static_cast<int>(event));
      if (!detail.empty()) details_.push_back(detail);
    };
  }
  static SmtpEnvelope Envelope(std::vector<std::string> recipients, std::string message) {
    return {"gate@lan.example", std::move(recipients), std::move(message)};
  }
  static int E(SmtpEvent event) { return static_cast<int>(event); }
  static size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
    size_t n = 0;
    for (const std::string& line : lines) n += line.rfind(prefix, 0) == 0;
    return n;
  }

  std::atomic<bool> stop_{false};
  std::vector<int> events_;
  std::vector<std::string> details_;
};

TEST_F(SmtpClientTest, TwoMessagesGoOverOneConnectionAndDisconnectSaysQuit) {
  LoopbackMailServer server;
  std::unique_ptr<SmtpClient> client = MakeSmtpClient(stop_);
  SmtpServer target{"127.0.0.1", server.port(), "gate"};
  ASSERT_TRUE(
      client->Send(target, Envelope({"a@lan.example", "b@lan.example"}, "Subject: one\r\n\r\nfirst\r\n"), Handler()));
  EXPECT_EQ(events_, (std::vector<int>{E(SmtpEvent::kResolved), E(SmtpEvent::kConnected),
                                       E(SmtpEvent::kTransferStarted), E(SmtpEvent::kMessageSent)}));
  EXPECT_TRUE(client->Connected());
  events_.clear();
  ASSERT_TRUE(client->Send(target, Envelope({"c@lan.example"}, "Subject: two\r\n\r\n.second\r\n"), Handler()));
  EXPECT_EQ(events_, (std::vector<int>{E(SmtpEvent::kTransferStarted), E(SmtpEvent::kMessageSent)}));
  events_.clear();
  client->Disconnect(Handler());
  EXPECT_EQ(events_, (std::vector<int>{E(SmtpEvent::kDisconnected)}));
  EXPECT_FALSE(client->Connected());
  client.reset();

  std::vector<std::string> lines = server.Lines();
  EXPECT_EQ(server.Connections(), 1);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines[0] == "EHLO gate" || lines[0] == "HELO gate") << lines[0];
  EXPECT_EQ(Count(lines, "MAIL FROM:<gate@lan.example>"), 2u);
  EXPECT_EQ(Count(lines, "RCPT TO:<a@lan.example>") + Count(lines, "RCPT TO:<b@lan.example>") +
                Count(lines, "RCPT TO:<c@lan.example>"),
            3u);
  EXPECT_EQ(Count(lines, "first"), 1u);
  // A line that starts with a dot is doubled on the wire.
  EXPECT_EQ(Count(lines, "..second"), 1u);
  EXPECT_EQ(lines.back(), "QUIT");
}

TEST_F(SmtpClientTest, ARefusedRecipientIsNamedAndFailsTheMessage) {
  LoopbackMailServer server({"ghost@lan.example"});
  std::unique_ptr<SmtpClient> client = MakeSmtpClient(stop_);
  EXPECT_FALSE(client->Send({"127.0.0.1", server.port(), "gate"}, Envelope({"ghost@lan.example"}, "x\r\n"), Handler()));
  EXPECT_EQ(events_,
            (std::vector<int>{E(SmtpEvent::kResolved), E(SmtpEvent::kConnected), E(SmtpEvent::kTransferStarted),
                              E(SmtpEvent::kRecipientRefused), E(SmtpEvent::kTransferFailed)}));
  EXPECT_EQ(details_, (std::vector<std::string>{"ghost@lan.example"}));
  EXPECT_FALSE(client->Connected());
  EXPECT_EQ(Count(server.Lines(), "DATA"), 0u);
}

TEST_F(SmtpClientTest, AClosedPortIsAFailedConnection) {
  int port = 0;
  {
    LoopbackMailServer gone;
    port = gone.port();
  }
  std::unique_ptr<SmtpClient> client = MakeSmtpClient(stop_);
  EXPECT_FALSE(client->Send({"127.0.0.1", port, "gate"}, Envelope({"a@lan.example"}, "x\r\n"), Handler()));
  EXPECT_EQ(events_, (std::vector<int>{E(SmtpEvent::kResolved), E(SmtpEvent::kConnectionFailed)}));
  EXPECT_FALSE(client->Connected());
}

TEST_F(SmtpClientTest, AStopAbandonsTheDialogue) {
  // A server that accepts and never greets.
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  std::unique_ptr<SmtpClient> client = MakeSmtpClient(stop_);
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop_ = true;
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(
      client->Send({"127.0.0.1", ntohs(address.sin_port), "gate"}, Envelope({"a@lan.example"}, "x\r\n"), Handler()));
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  ::close(listener);
}

}  // namespace
}  // namespace brindlex::testing
