// Readers on other threads take the settings in force while the editor's
// write operations replace them: every value a reader sees must be one that
// was written whole, and one snapshot must never show a later field beside
// an earlier one out of the order they were written in. Built with
// ThreadSanitizer this also proves the hand-over itself race-free.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"

namespace brindlex {
namespace {

// Long enough to live on the heap (a torn copy reads freed or half-written
// memory), different in length and contents from round to round, and naming
// its round so that a reader can tell which value it should be equal to.
std::string Text(const char* tag, int round) {
  std::string text = std::string(tag) + "-" + std::to_string(round) + "-";
  text.append(100 + static_cast<size_t>(round * 37 % 800), static_cast<char>('a' + round % 26));
  return text;
}

std::vector<std::string> Hosts(int round) {
  std::vector<std::string> hosts;
  for (int i = 0; i <= round % 20; ++i) hosts.push_back(Text("host", round) + "." + std::to_string(i));
  return hosts;
}

// The round a value names, or -1 when it names none.
int RoundOf(const std::string& value) {
  size_t dash = value.find('-');
  return dash == std::string::npos ? -1 : std::atoi(value.c_str() + dash + 1);
}

struct Seen {
  int port, hosts, user;
};

// Empty when the snapshot holds values written whole, in an order that
// existed; otherwise what is wrong with it.
std::string Check(const SystemSettings& settings, Seen& seen) {
  seen.port = RoundOf(settings.HttpPort);
  seen.hosts = settings.LocalHosts.empty() ? -1 : RoundOf(settings.LocalHosts.front());
  seen.user = RoundOf(settings.ParentProxyUser);
  if (seen.port < 0 || settings.HttpPort != Text("port", seen.port)) return "HttpPort " + settings.HttpPort;
  if (seen.hosts < 0 || settings.LocalHosts != Hosts(seen.hosts))
    return "LocalHosts of round " + std::to_string(seen.hosts);
  if (seen.user < 0 || settings.ParentProxyUser != Text("user", seen.user))
    return "ParentProxyUser " + settings.ParentProxyUser;
  // Each round writes HttpPort, then LocalHosts, then ParentProxyUser.
  if (!(seen.user <= seen.hosts && seen.hosts <= seen.port && seen.port <= seen.user + 1))
    return "rounds " + std::to_string(seen.port) + "/" + std::to_string(seen.hosts) + "/" + std::to_string(seen.user);
  return "";
}

class SettingsRace : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/brindlex-settings-race-XXXXXX";
    int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    path_ = name;
    savedPath_ = SettingsPath();
    SetSettingsPath(path_);
  }
  void TearDown() override {
    PublishSettings(SystemSettings{});
    SetSettingsPath(savedPath_);
    std::remove(path_.c_str());
  }
  static void WriteRound(int round) {
    WriteTextSetting("EdHttpPort", Text("port", round));
    WriteListSetting("LbLocalHosts", Hosts(round));
    WriteTextSetting("EdParentProxyUser", Text("user", round));
  }
  std::string path_, savedPath_;
};

TEST_F(SettingsRace, ReadersSeeOnlyWholeValuesWhileTheEditorWrites) {
  constexpr int kRounds = 40;
  constexpr int kReaders = 3;
  WriteRound(0);
  std::atomic<bool> writing{true};
  std::atomic<int> started{0};
  struct Result {
    long reads = 0;
    std::string problem;
    int lastPort = 0;
  };
  std::vector<Result> results(kReaders);
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&, r] {
      Result& result = results[r];
      started.fetch_add(1);
      do {
        Seen seen{};
        std::string problem = Check(*Settings(), seen);
        ++result.reads;
        if (problem.empty() && seen.port < result.lastPort)
          problem = "went back from round " + std::to_string(result.lastPort);
        if (!problem.empty()) {
          result.problem = problem;
          return;
        }
        result.lastPort = seen.port;
      } while (writing.load());
    });
  }
  while (started.load() < kReaders) std::this_thread::yield();
  for (int round = 1; round <= kRounds; ++round) WriteRound(round);
  writing = false;
  for (std::thread& reader : readers) reader.join();

  long reads = 0;
  for (const Result& result : results) {
    EXPECT_EQ(result.problem, "");
    reads += result.reads;
  }
  EXPECT_GT(reads, kReaders) << "the readers never ran beside the writes";
  Seen last{};
  EXPECT_EQ(Check(*Settings(), last), "");
  EXPECT_EQ(last.user, kRounds);
}

}  // namespace
}  // namespace brindlex
