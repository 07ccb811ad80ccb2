// The administration channel on real sockets in a temporary program folder:
// calls over the local socket and over TLS, who is let in (peer credentials,
// the password, the pinned certificate), and that a console which breaks the
// protocol, stalls, falls silent or never reads harms neither the gateway nor
// another console.
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "console/admin_client.h"
#include "console/admin_frame.h"
#include "console/admin_server.h"
#include "console/admin_stream.h"
#include "console/admin_tls.h"
#include "core/config_check.h"
#include "core/program_folder.h"
#include "core/refusal_monitor.h"
#include "core/settings.h"
#include "core/strings.h"

namespace brindlex {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint16_t kEcho = 1;
constexpr std::uint16_t kSlow = 2;  // progress, then waits until aborted
constexpr std::uint16_t kUnknown = 99;
constexpr const char* kPassword = "s3cret";

std::string MakeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brindlex-admin-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  EXPECT_NE(made, nullptr);
  return pattern;
}

template <typename Predicate>
bool Eventually(Predicate predicate, std::chrono::milliseconds within = 5s) {
  const auto until = SteadyClock::now() + within;
  while (!predicate()) {
    if (SteadyClock::now() > until) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

std::vector<std::string> RefusedLinesContaining(const std::string& part) {
  std::vector<std::string> found;
  for (const std::string& line : TakeRefusalLines())
    if (line.find(part) != std::string::npos) found.push_back(line);
  return found;
}

// A console speaking raw frames, to do what a well-behaved client never does.
class RawConsole {
 public:
  explicit RawConsole(const std::string& folder) : fd_(ConnectUnix(AdminSocketPath(folder))) { EXPECT_GE(fd_, 0); }
  ~RawConsole() {
    if (fd_ >= 0) ::close(fd_);
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  // The next frame, or nothing when the gateway closed the link or `within`
  // passed.
  std::optional<Frame> Next(std::chrono::milliseconds within = 5s) {
    const auto until = SteadyClock::now() + within;
    char buffer[65536];
    while (true) {
      if (std::optional<Frame> frame = reader_.Take()) return frame;
      int wait =
          static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now()).count());
      if (wait <= 0 || (PollOne(fd_, POLLIN, wait) & (POLLIN | POLLHUP | POLLERR)) == 0) return std::nullopt;
      ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
      if (n <= 0) return std::nullopt;
      reader_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
  }
  void LogIn() {
    Send(HelloFrame(""));
    std::optional<Frame> welcome = Next();
    ASSERT_TRUE(welcome.has_value());
    ASSERT_EQ(welcome->kind, FrameKind::kWelcome);
  }
  // True when the gateway closed the link, after any frames it sent first;
  // the last push it sent is kept in `farewell`.
  bool ClosedByGateway(std::string* farewell = nullptr, std::chrono::milliseconds within = 5s) {
    while (std::optional<Frame> frame = Next(within)) {
      AdminPush kind{};
      std::string_view data;
      if (farewell && frame->kind == FrameKind::kPush && ParsePush(frame->payload, kind, data) &&
          kind == AdminPush::kFarewell)
        *farewell = data;
    }
    char byte;
    return PollOne(fd_, POLLIN, 0) != 0 && ::recv(fd_, &byte, 1, MSG_DONTWAIT) == 0;
  }
  int Fd() const { return fd_; }

 private:
  int fd_;
  FrameReader reader_{kFrameLimitFromGateway};
};

class AdminChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTempFolder();
    TakeRefusalLines();
  }
  void TearDown() override {
    server_.reset();
    std::filesystem::remove_all(folder_);
  }

  AdminServerOptions Options(bool tls) {
    AdminServerOptions options;
    options.programFolder = folder_;
    options.port = tls ? kAnyAdminPort : 0;
    options.address = "127.0.0.1";
    options.hostName = "gate-test";
    options.checkPassword = [this](std::string_view given) { return CheckAdminPassword(given, password_); };
    options.serve = [this](std::uint16_t call, std::string_view args,
                           const AdminCallContext& context) -> std::optional<std::string> {
      ++served_;
      if (call == kEcho) return std::string(args);
      if (call == kSlow) {
        context.progress("step 1");
        while (!context.aborted()) std::this_thread::sleep_for(2ms);
        return std::string("stopped");
      }
      return std::nullopt;
    };
    options.timings.loginDelayBase = 300ms;
    options.timings.loginDelayMax = 1200ms;
    return options;
  }

  void StartServer(AdminServerOptions options) {
    if (options.port != 0) {
      std::string error;
      ASSERT_TRUE(EnsureAdminCertificate(folder_, "gate-test", error)) << error;
    }
    server_ = std::make_unique<AdminServer>();
    std::string error;
    ASSERT_TRUE(server_->Start(std::move(options), error)) << error;
  }

  AdminClientOptions LocalClient() {
    AdminClientOptions options;
    options.programFolder = folder_;
    return options;
  }

  AdminClientOptions TlsClient(std::string password, bool accept) {
    AdminClientOptions options;
    options.host = "127.0.0.1";
    options.port = server_->TlsPort();
    options.pinFile = folder_ + "/known_gateways";
    options.password = [password] { return std::optional<std::string>(password); };
    options.confirmFingerprint = [this, accept](const std::string& target, const std::string& fingerprint,
                                                bool changed) {
      asked_.push_back({target, fingerprint, changed});
      return accept;
    };
    // One attempt per client in these tests: a retry would be a second login.
    options.timings.reconnect = 60s;
    return options;
  }

  struct Asked {
    std::string target;
    std::string fingerprint;
    bool changed;
  };

  std::string folder_;
  std::string password_ = kPassword;
  std::atomic<int> served_{0};
  std::vector<Asked> asked_;
  std::unique_ptr<AdminServer> server_;
};

TEST_F(AdminChannel, LocalCallRoundTripPushesAndFarewellOnStop) {
  // Left by a gateway that did not end in order.
  std::FILE* stale = std::fopen(AdminSocketPath(folder_).c_str(), "w");
  ASSERT_NE(stale, nullptr);
  std::fclose(stale);
  StartServer(Options(false));
  struct stat st {};
  ASSERT_EQ(::stat(AdminSocketPath(folder_).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);

  AdminClient client(LocalClient());
  ASSERT_TRUE(client.WaitUntilUp(5s));
  EXPECT_EQ(client.State().gatewayHost, "gate-test");
  EXPECT_EQ(client.Call(kEcho, std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(client.Call(kEcho, ""), "");
  ASSERT_TRUE(Eventually([&] { return server_->ConsoleCount() == 1; }));

  server_->Push(AdminPush::kMonitorLine, "line one");
  server_->Push(AdminPush::kRefresh, std::string(1, static_cast<char>(kRefreshUsers)));
  std::vector<std::pair<AdminPush, std::string>> got;
  ASSERT_TRUE(Eventually([&] {
    client.DeliverPushes([&](AdminPush kind, std::string_view payload) { got.emplace_back(kind, payload); });
    return got.size() >= 2;
  }));
  EXPECT_EQ(got[0], std::make_pair(AdminPush::kMonitorLine, std::string("line one")));
  EXPECT_EQ(got[1].first, AdminPush::kRefresh);

  server_->Stop();
  ASSERT_TRUE(client.WaitUntilDown(5s));
  EXPECT_EQ(client.State().lastError, Str(1238));
  EXPECT_FALSE(client.Call(kEcho, "x").has_value());
  EXPECT_NE(::stat(AdminSocketPath(folder_).c_str(), &st), 0) << "the socket file is removed";
}

TEST_F(AdminChannel, ClientReconnectsWhenTheGatewayComesBack) {
  StartServer(Options(false));
  AdminClientOptions options = LocalClient();
  options.timings.reconnect = 50ms;
  AdminClient client(options);
  ASSERT_TRUE(client.WaitUntilUp(5s));
  server_->Stop();
  ASSERT_TRUE(client.WaitUntilDown(5s));
  StartServer(Options(false));
  ASSERT_TRUE(client.WaitUntilUp(5s));
  EXPECT_EQ(client.Call(kEcho, "again"), "again");
}

TEST_F(AdminChannel, ASocketPathLongerThanTheAddressHoldsStillWorks) {
  std::string deep = folder_;
  while (deep.size() < 150) deep += "/a-rather-long-folder-name";
  std::filesystem::create_directories(deep);
  std::string root = folder_;
  folder_ = deep;
  StartServer(Options(false));
  AdminClient client(LocalClient());
  ASSERT_TRUE(client.WaitUntilUp(5s));
  EXPECT_EQ(client.Call(kEcho, "deep"), "deep");
  server_.reset();
  folder_ = root;
}

TEST_F(AdminChannel, AnotherUserIsRefusedEvenWhenTheSocketFileLetsHimIn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  StartServer(Options(false));
  // File modes alone would stop him at connect; the credentials must too.
  ASSERT_EQ(::chmod(folder_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(AdminSocketPath(folder_).c_str(), 0666), 0);
  const std::string path = AdminSocketPath(folder_);
  const std::string hello = HelloFrame("");
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    int fd = ConnectUnix(path);
    if (fd < 0) ::_exit(11);
    if (::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(hello.size())) ::_exit(12);
    char frame[512];
    std::size_t got = 0;
    while (got < sizeof(frame)) {
      ssize_t n = ::recv(fd, frame + got, sizeof(frame) - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    // Closed after one frame, a refusal.
    if (got < kFrameHeaderSize || frame[4] != static_cast<char>(FrameKind::kRefused)) ::_exit(13);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::vector<std::string> lines;
  ASSERT_TRUE(Eventually([&] {
    std::vector<std::string> found = RefusedLinesContaining(", 0, admin");
    lines.insert(lines.end(), found.begin(), found.end());
    return !lines.empty();
  }));
  EXPECT_EQ(lines[0].rfind("REFUSED, 127.0.0.1, ", 0), 0u) << lines[0];
  EXPECT_EQ(server_->ConsoleCount(), 0u);
  EXPECT_EQ(served_, 0);
}

TEST_F(AdminChannel, TlsUnknownCertificateIsPutToTheAdministratorAndPinnedWhenAccepted) {
  StartServer(Options(true));
  const std::string target = "127.0.0.1:" + std::to_string(server_->TlsPort());
  const std::optional<std::string> fingerprint = AdminFingerprint(folder_);
  ASSERT_TRUE(fingerprint.has_value());
  EXPECT_EQ(fingerprint->rfind("SHA256:", 0), 0u);
  EXPECT_EQ(fingerprint->size(), 7u + 32 * 3 - 1);

  {
    AdminClient refusing(TlsClient(kPassword, false));
    ASSERT_TRUE(refusing.WaitUntilDown(5s));
    EXPECT_NE(refusing.State().lastError.find(target), std::string::npos);
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_EQ(asked_[0].target, target);
    EXPECT_EQ(asked_[0].fingerprint, *fingerprint);
    EXPECT_FALSE(asked_[0].changed);
    EXPECT_FALSE(PinnedFingerprint(folder_ + "/known_gateways", target).has_value());
  }
  {
    AdminClient accepting(TlsClient(kPassword, true));
    ASSERT_TRUE(accepting.WaitUntilUp(5s));
    EXPECT_EQ(accepting.Call(kEcho, "over tls"), "over tls");
    EXPECT_EQ(PinnedFingerprint(folder_ + "/known_gateways", target), fingerprint);
  }
  asked_.clear();
  {
    AdminClient pinned(TlsClient(kPassword, false));
    ASSERT_TRUE(pinned.WaitUntilUp(5s)) << "a pinned certificate is not asked about again";
    EXPECT_TRUE(asked_.empty());
  }

  // The gateway's files made anew (a reinstall, or someone in between).
  const int port = server_->TlsPort();
  server_.reset();
  std::filesystem::remove(AdminKeyPath(folder_));
  std::filesystem::remove(AdminCertificatePath(folder_));
  AdminServerOptions options = Options(true);
  options.port = port;
  StartServer(options);
  ASSERT_NE(AdminFingerprint(folder_), fingerprint);
  {
    AdminClient changed(TlsClient(kPassword, false));
    ASSERT_TRUE(changed.WaitUntilDown(5s));
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_TRUE(asked_[0].changed);
    EXPECT_EQ(asked_[0].fingerprint, *AdminFingerprint(folder_));
    EXPECT_EQ(PinnedFingerprint(folder_ + "/known_gateways", target), fingerprint) << "the old pin stays";
  }
  EXPECT_EQ(served_, 1);
}

TEST_F(AdminChannel, WrongPasswordIsRefusedReportedAndTheNextAttemptWaits) {
  StartServer(Options(true));
  StorePin(folder_ + "/known_gateways", "127.0.0.1:" + std::to_string(server_->TlsPort()), *AdminFingerprint(folder_));

  auto attempt = [&](const std::string& password) {
    const auto start = SteadyClock::now();
    AdminClient client(TlsClient(password, false));
    EXPECT_TRUE(client.WaitUntilDown(10s));
    return std::make_pair(client.State().lastError, SteadyClock::now() - start);
  };
  auto [first, firstTook] = attempt("guess");
  EXPECT_EQ(first, Str(1234));
  std::vector<std::string> lines;
  ASSERT_TRUE(Eventually([&] {
    for (const std::string& line : RefusedLinesContaining("admin")) lines.push_back(line);
    return !lines.empty();
  }));
  EXPECT_EQ(lines[0], "REFUSED, 127.0.0.1, admin, 0, admin");

  // The second attempt from the address waits; a local console meanwhile
  // is served at once.
  std::thread second([&] {
    auto [text, took] = attempt("guess again");
    EXPECT_EQ(text, Str(1234));
    // The delay runs from the failure, a moment before the client saw it.
    EXPECT_GE(took, 280ms);
  });
  AdminClient local(LocalClient());
  ASSERT_TRUE(local.WaitUntilUp(5s));
  const auto callStart = SteadyClock::now();
  EXPECT_EQ(local.Call(kEcho, "not held up"), "not held up");
  EXPECT_LT(SteadyClock::now() - callStart, 300ms);
  second.join();

  // The right password waits out the doubled delay, then is let in.
  const auto start = SteadyClock::now();
  AdminClient right(TlsClient(kPassword, false));
  ASSERT_TRUE(right.WaitUntilUp(10s));
  EXPECT_GE(SteadyClock::now() - start, 580ms);
  EXPECT_EQ(right.Call(kEcho, "in"), "in");
  EXPECT_LT(firstTook, 300ms) << "the first failure itself is answered at once";
}

TEST_F(AdminChannel, GuessesFromOneAddressOverManyConnectionsAreTriedOneAfterAnother) {
  AdminServerOptions options = Options(true);
  options.timings.loginDelayBase = 100ms;
  options.timings.loginDelayMax = 10s;
  StartServer(options);
  StorePin(folder_ + "/known_gateways", "127.0.0.1:" + std::to_string(server_->TlsPort()), *AdminFingerprint(folder_));
  {
    AdminClient first(TlsClient("guess", false));
    ASSERT_TRUE(first.WaitUntilDown(5s));
  }
  // Three at once after one failure: they wait 100, 200 and 400 ms in turn
  // instead of all trying after the first 100.
  const auto start = SteadyClock::now();
  std::vector<std::unique_ptr<AdminClient>> guessers;
  for (int i = 0; i < 3; ++i) guessers.push_back(std::make_unique<AdminClient>(TlsClient("guess", false)));
  for (auto& guesser : guessers) {
    ASSERT_TRUE(guesser->WaitUntilDown(10s));
    EXPECT_EQ(guesser->State().lastError, Str(1234));
  }
  EXPECT_GE(SteadyClock::now() - start, 680ms);
  EXPECT_EQ(RefusedLinesContaining("REFUSED, 127.0.0.1, admin, 0, admin").size(), 4u);
}

TEST_F(AdminChannel, EmptyAdministratorPasswordClosesRemoteLoginButNotTheLocalSocket) {
  password_.clear();
  StartServer(Options(true));
  StorePin(folder_ + "/known_gateways", "127.0.0.1:" + std::to_string(server_->TlsPort()), *AdminFingerprint(folder_));
  AdminClient remote(TlsClient("", false));
  ASSERT_TRUE(remote.WaitUntilDown(5s));
  EXPECT_EQ(remote.State().lastError, Str(1235));
  AdminClient local(LocalClient());
  ASSERT_TRUE(local.WaitUntilUp(5s));
}

TEST_F(AdminChannel, GarbageStallAndSilenceCloseOnlyTheConsoleAtFault) {
  AdminServerOptions options = Options(false);
  options.timings.stall = 300ms;
  options.timings.silence = 1500ms;
  StartServer(options);
  AdminClientOptions clientOptions = LocalClient();
  clientOptions.timings.ping = 200ms;
  AdminClient good(clientOptions);
  ASSERT_TRUE(good.WaitUntilUp(5s));

  RawConsole garbage(folder_);
  garbage.LogIn();
  RawConsole stalled(folder_);
  stalled.LogIn();
  RawConsole silent(folder_);
  silent.LogIn();
  RawConsole notAHello(folder_);
  ASSERT_TRUE(Eventually([&] { return server_->ConsoleCount() == 4; }));

  garbage.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  std::string farewell;
  EXPECT_TRUE(garbage.ClosedByGateway(&farewell));
  EXPECT_EQ(farewell, Str(1245));

  stalled.Send(CallFrame(1, kEcho, "half a call").substr(0, 8));
  EXPECT_TRUE(stalled.ClosedByGateway(&farewell, 3s));

  notAHello.Send(EncodeFrame(FrameKind::kCall, "no hello first"));
  EXPECT_TRUE(notAHello.ClosedByGateway());

  EXPECT_TRUE(silent.ClosedByGateway(nullptr, 4s));

  EXPECT_TRUE(good.State().up);
  EXPECT_EQ(good.Call(kEcho, "still here"), "still here");
  EXPECT_TRUE(Eventually([&] { return server_->ConsoleCount() == 1; }));
}

TEST_F(AdminChannel, AnUnknownCallBreaksTheProtocolAndALongCallCanBeAborted) {
  StartServer(Options(false));
  AdminClient client(LocalClient());
  ASSERT_TRUE(client.WaitUntilUp(5s));

  // A long call on one console holds up neither its pings nor another
  // console; its abort ends it.
  std::vector<std::string> progress;
  std::atomic<bool> abort{false};
  AdminCallHooks hooks;
  hooks.progress = [&](std::string_view step) { progress.emplace_back(step); };
  hooks.abort = [&] { return abort.load(); };
  std::thread other([&] {
    AdminClient second(LocalClient());
    ASSERT_TRUE(second.WaitUntilUp(5s));
    EXPECT_EQ(second.Call(kEcho, "beside"), "beside");
    abort = true;
  });
  EXPECT_EQ(client.Call(kSlow, "", hooks), "stopped");
  other.join();
  EXPECT_EQ(progress, std::vector<std::string>{"step 1"});

  EXPECT_FALSE(client.Call(kUnknown, "").has_value());
  ASSERT_TRUE(client.WaitUntilDown(5s));
  EXPECT_EQ(client.State().lastError, Str(1245));
}

TEST_F(AdminChannel, AtMostSixteenConsolesAtOnce) {
  StartServer(Options(false));
  std::vector<std::unique_ptr<RawConsole>> consoles;
  for (std::size_t i = 0; i < kMaxAdminConsoles; ++i) {
    consoles.push_back(std::make_unique<RawConsole>(folder_));
    consoles.back()->LogIn();
  }
  RawConsole extra(folder_);
  extra.Send(HelloFrame(""));
  std::optional<Frame> refused = extra.Next();
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->kind, FrameKind::kRefused);
  EXPECT_NE(refused->payload.find("16"), std::string::npos);
  consoles.pop_back();
  ASSERT_TRUE(Eventually([&] { return server_->ConsoleCount() == kMaxAdminConsoles - 1; }));
  RawConsole next(folder_);
  next.LogIn();
}

TEST_F(AdminChannel, AConsoleOfAnotherVersionIsToldBothVersions) {
  StartServer(Options(false));
  RawConsole old(folder_);
  old.Send(HelloFrame("", 7));
  std::optional<Frame> answer = old.Next();
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->kind, FrameKind::kRefused);
  EXPECT_EQ(answer->payload, VersionRefusalText(7, kAdminProtocolVersion));
}

TEST_F(AdminChannel, AConsoleThatNeverReadsKeepsABoundedQueueAndLearnsWhatItMissed) {
  AdminServerOptions options = Options(false);
  options.timings.silence = 30s;
  StartServer(options);
  RawConsole sleeper(folder_);
  sleeper.LogIn();
  ASSERT_TRUE(Eventually([&] { return server_->ConsoleCount() == 1; }));

  // Ten thousand lines a second for two seconds, none read meanwhile.
  const std::string line(100, 'x');
  std::size_t pushed = 0;
  for (int tick = 0; tick < 20; ++tick) {
    const auto next = SteadyClock::now() + 100ms;
    for (int i = 0; i < 1000; ++i, ++pushed) server_->Push(AdminPush::kMonitorLine, line);
    std::vector<AdminConsoleFigures> figures = server_->Figures();
    ASSERT_EQ(figures.size(), 1u);
    EXPECT_LE(figures[0].queuedLines, options.maxQueuedLines + 1);
    EXPECT_LE(figures[0].queuedBytes, options.maxQueuedBytes + 200);
    std::this_thread::sleep_until(next);
  }
  std::vector<AdminConsoleFigures> figures = server_->Figures();
  ASSERT_EQ(figures.size(), 1u);
  EXPECT_GT(figures[0].missedLines, 0u);
  EXPECT_LE(figures[0].largestQueuedBytes, options.maxQueuedBytes + 200);

  // Read at last: every line pushed arrives or is counted in a line that
  // says how many were missed (one each time the queue had room again after
  // it had been full, which a slow run may see more than once).
  const std::string missedPrefix = std::string(Str(1232)).substr(0, std::string(Str(1232)).find('%'));
  std::size_t received = 0;
  std::uint64_t missed = 0;
  while (received + missed < pushed) {
    std::optional<Frame> frame = sleeper.Next(5s);
    ASSERT_TRUE(frame) << received << " received, " << missed << " missed of " << pushed;
    AdminPush kind{};
    std::string_view data;
    ASSERT_TRUE(ParsePush(frame->payload, kind, data));
    ASSERT_EQ(kind, AdminPush::kMonitorLine);
    if (data == line) {
      ++received;
      continue;
    }
    ASSERT_EQ(data.substr(0, missedPrefix.size()), missedPrefix) << data;
    missed += std::strtoull(std::string(data.substr(missedPrefix.size())).c_str(), nullptr, 10);
  }
  EXPECT_GT(missed, 0u);
  EXPECT_EQ(received + missed, pushed);
  EXPECT_EQ(server_->Figures()[0].missedLines, 0u);
}

TEST_F(AdminChannel, FingerprintCommandAndTheAdminPortKey) {
  SetProgramFolder(folder_);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  Command command = ParseCommandLine({"--admin-fingerprint"});
  ASSERT_EQ(command.kind, CommandKind::AdminFingerprint);
  EXPECT_EQ(RunCommand(command, folder_ + "/Brindlex.ini", out, err), 1);
  std::string error;
  ASSERT_TRUE(EnsureAdminCertificate(folder_, "gate-test", error)) << error;
  struct stat st {};
  ASSERT_EQ(::stat(AdminKeyPath(folder_).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u) << "the key is the gateway's alone";
  EXPECT_EQ(RunCommand(command, folder_ + "/Brindlex.ini", out, err), 0);
  char printed[256] = {};
  std::rewind(out);
  ASSERT_NE(std::fgets(printed, sizeof(printed), out), nullptr);
  EXPECT_EQ(std::string(printed), *AdminFingerprint(folder_) + "\n");
  // Made once: a second start keeps the pinned certificate.
  const std::string before = *AdminFingerprint(folder_);
  ASSERT_TRUE(EnsureAdminCertificate(folder_, "gate-test", error));
  EXPECT_EQ(*AdminFingerprint(folder_), before);
  std::fclose(out);
  std::fclose(err);

  SystemSettings settings;
  EXPECT_EQ(settings.AdminPort, 0);
  LoadSystemSettings(ParseIni("[System]\nAdminPort=8443\n"), settings);
  EXPECT_EQ(settings.AdminPort, 8443);
  EXPECT_TRUE(CheckConfiguration("[System]\nAdminPort=0\n").empty());
  EXPECT_TRUE(CheckConfiguration("[System]\nAdminPort=8443\n").empty());
  for (const char* bad : {"[System]\nAdminPort=70000\n", "[System]\nAdminPort=-1\n", "[System]\nAdminPort=tls\n"}) {
    std::vector<ConfigProblem> problems = CheckConfiguration(bad);
    ASSERT_EQ(problems.size(), 1u) << bad;
    EXPECT_EQ(problems[0].key, "AdminPort");
  }
}

TEST(AdminPins, APinIsReplacedAndOtherTargetsKept) {
  const std::string folder = MakeTempFolder();
  const std::string file = folder + "/config/brindlex/known_gateways";
  ASSERT_TRUE(StorePin(file, "a:1", "SHA256:AA"));
  ASSERT_TRUE(StorePin(file, "b:2", "SHA256:BB"));
  ASSERT_TRUE(StorePin(file, "a:1", "SHA256:CC"));
  EXPECT_EQ(PinnedFingerprint(file, "a:1"), "SHA256:CC");
  EXPECT_EQ(PinnedFingerprint(file, "b:2"), "SHA256:BB");
  EXPECT_FALSE(PinnedFingerprint(file, "a:12").has_value());
  EXPECT_NE(ChangedFingerprintWarning("a:1", "SHA256:AA", "SHA256:CC").find("SHA256:CC"), std::string::npos);
  std::filesystem::remove_all(folder);
}

TEST(AdminPassword, ComparedWholeAndAnEmptyOneAdmitsNobody) {
  EXPECT_EQ(CheckAdminPassword("s3cret", "s3cret"), PasswordCheck::kMatch);
  EXPECT_EQ(CheckAdminPassword("s3cre", "s3cret"), PasswordCheck::kWrong);
  EXPECT_EQ(CheckAdminPassword("s3cret ", "s3cret"), PasswordCheck::kWrong);
  EXPECT_EQ(CheckAdminPassword("S3CRET", "s3cret"), PasswordCheck::kWrong);
  EXPECT_EQ(CheckAdminPassword("", ""), PasswordCheck::kNotSet);
  EXPECT_EQ(CheckAdminPassword("anything", ""), PasswordCheck::kNotSet);
}

}  // namespace
}  // namespace brindlex
