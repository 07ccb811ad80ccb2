// The pppd backend against folders of the test's own and a stand-in for pppd:
// the entries, the link files, a dial that comes up with the password passed
// through the pipe, dials that fail with pppd's exit status, the hang-up.
#include "dialup/ppp_peers.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "core/strings.h"

namespace brindlex {
namespace {

class PppPeersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex-ppp-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* folder : {"/peers", "/run", "/net/ppp9"}) std::filesystem::create_directories(root_ + folder);
    paths_.peers = root_ + "/peers";
    paths_.run = root_ + "/run";
    paths_.interfaces = root_ + "/net";
    paths_.pppd = root_ + "/pppd";
    paths_.dialSeconds = 20;
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  void Write(const std::string& name, const std::string& text) { std::ofstream(root_ + "/" + name) << text; }
  std::string Read(const std::string& name) {
    std::stringstream s;
    s << std::ifstream(root_ + "/" + name).rdbuf();
    return s.str();
  }
  // The stand-in for pppd runs this shell text with pppd's arguments.
  void Pppd(const std::string& body) {
    Write("pppd", "#!/bin/sh\nRUN='" + paths_.run + "'\n" + body + "\n");
    ::chmod(paths_.pppd.c_str(), 0755);
  }

  std::string root_;
  PppPaths paths_;
};

TEST(PppLinkFile, PidThenAPlainInterfaceName) {
  PppLinkFile link;
  ASSERT_TRUE(ParsePppLinkFile("123\nppp0\n", link));
  EXPECT_EQ(link.pid, 123);
  EXPECT_EQ(link.interface, "ppp0");
  ASSERT_TRUE(ParsePppLinkFile("77\n", link));
  EXPECT_EQ(link.interface, "") << "no interface before the link has one";
  ASSERT_TRUE(ParsePppLinkFile("77\n../../etc\n", link));
  EXPECT_EQ(link.interface, "") << "a path is not an interface";
  EXPECT_FALSE(ParsePppLinkFile("", link));
  EXPECT_FALSE(ParsePppLinkFile("x1\nppp0\n", link));
  EXPECT_FALSE(ParsePppLinkFile("0\nppp0\n", link));
  EXPECT_FALSE(ParsePppLinkFile("123456789012\nppp0\n", link));
}

TEST_F(PppPeersTest, EntriesAreThePlainFilesOfThePeersFolder) {
  for (const char* name : {"peers/office", "peers/backup", "peers/.hidden", "peers/office~"}) Write(name, "x");
  std::filesystem::create_directories(root_ + "/peers/folder");
  PppPeers peers(paths_);
  EXPECT_EQ(peers.Entries(), (std::vector<std::string>{"backup", "office"}));
  EXPECT_FALSE(peers.Usable()) << "no pppd";
  Pppd("exit 0");
  EXPECT_TRUE(peers.Usable());
}

TEST_F(PppPeersTest, WhyUnusableNamesTheMissingPieceByItsPlace) {
  PppPeers peers(paths_);
  EXPECT_EQ(peers.WhyUnusable(), StrWith(1419, paths_.pppd)) << "pppd is looked for first";
  EXPECT_EQ(peers.EntriesPlace(), paths_.peers);
  Pppd("exit 0");
  EXPECT_EQ(peers.WhyUnusable(), "");
  std::filesystem::remove_all(paths_.peers);
  EXPECT_EQ(peers.WhyUnusable(), StrWith(1420, paths_.peers));
  EXPECT_FALSE(peers.Usable());
  EXPECT_TRUE(peers.Entries().empty());
  Write("peers", "a file where the folder should be");
  EXPECT_EQ(peers.WhyUnusable(), StrWith(1420, paths_.peers));
  ::chmod(paths_.pppd.c_str(), 0644);
  EXPECT_EQ(peers.WhyUnusable(), StrWith(1419, paths_.pppd)) << "a pppd that cannot run is none";
}

TEST_F(PppPeersTest, LinksOfLiveProcessesAreActiveAndConnectedWhileTheirInterfaceRuns) {
  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  Write("run/ppp-office.pid", std::to_string(::getpid()) + "\nppp9\n");
  Write("run/ppp-old.pid", std::to_string(gone) + "\nppp8\n");
  Write("run/other.pid", std::to_string(::getpid()) + "\n");
  PppPeers peers(paths_);
  std::vector<ActiveLink> links = peers.ActiveLinks();
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links[0].entry, "office");
  EXPECT_EQ(links[0].handle, ::getpid());

  Write("net/ppp9/flags", "0x10d1\n");
  EXPECT_TRUE(peers.Connected(::getpid()));
  Write("net/ppp9/flags", "0x1090\n");
  EXPECT_FALSE(peers.Connected(::getpid())) << "the interface is down";
  EXPECT_FALSE(peers.Connected(gone));
}

TEST_F(PppPeersTest, ADialIsUpWhenTheInterfaceOfItsLinkRunsAndTheHangUpEndsIt) {
  Write("net/ppp9/flags", "0x10d1\n");
  Pppd(
      "echo \"$@\" > \"$RUN/args\"\ncat <&3 > \"$RUN/password\"\n"
      "printf '%s\\nppp9\\n' $$ > \"$RUN/ppp-$2.pid\"\nexec sleep 30");
  PppPeers peers(paths_);
  LinkHandle handle = 0;
  ASSERT_EQ(peers.Dial("office", "ann", "s3cret", handle, [] { return false; }), 0);
  EXPECT_GT(handle, 0);
  EXPECT_EQ(Read("run/args"), "call office nodetach linkname office user ann plugin passwordfd.so passwordfd 3\n");
  EXPECT_EQ(Read("run/password"), "s3cret");
  EXPECT_TRUE(peers.Connected(handle));
  peers.HangUp(handle);
  EXPECT_NE(::kill(static_cast<pid_t>(handle), 0), 0) << "ended and reaped";
  EXPECT_FALSE(peers.Connected(handle));
}

TEST_F(PppPeersTest, ADialThatEndsGivesPppdsExitAndABusyPortIsADeviceInUse) {
  PppPeers peers(paths_);
  LinkHandle handle = 0;
  Pppd("exit 6");
  EXPECT_EQ(peers.Dial("office", "", "", handle, [] { return false; }), kDeviceInUse);
  EXPECT_EQ(handle, 0);
  Pppd("exit 19");
  int code = peers.Dial("office", "", "", handle, [] { return false; });
  EXPECT_EQ(code, kPppdExit + 19);
  EXPECT_EQ(peers.ErrorText(code), "authentication to the peer failed");
  EXPECT_EQ(peers.Dial("../office", "", "", handle, [] { return false; }), kBadEntry);

  // Given up: the half-made link is left for the caller to hang up.
  Pppd("exec sleep 30");
  EXPECT_EQ(peers.Dial("office", "", "", handle, [] { return true; }), kDialAbandoned);
  ASSERT_GT(handle, 0);
  peers.HangUp(handle);
  EXPECT_NE(::kill(static_cast<pid_t>(handle), 0), 0);
}

}  // namespace
}  // namespace brindlex
