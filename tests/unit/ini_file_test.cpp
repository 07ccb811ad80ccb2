#include "core/ini_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace brindlex {
namespace {

TEST(IniParse, FirstKeyWinsNamesIgnoreCaseAndQuotesAreStripped) {
  IniDocument d = ParseIni("top=1\n[Users]\r\nBob = a; b \r\nbob=second\r\nquoted=\"q v\"\r\n[users]\r\nbob=third\n");
  ASSERT_NE(FindValue(d, "USERS", "BOB"), nullptr);
  EXPECT_EQ(*FindValue(d, "USERS", "BOB"), "a; b");
  EXPECT_EQ(*FindValue(d, "users", "quoted"), "q v");
  EXPECT_EQ(FindValue(d, "Users", "top"), nullptr) << "keys before any section belong to none";
  EXPECT_EQ(FindValue(d, "Nope", "bob"), nullptr);
}

TEST(IniParse, KeysWithoutEqualsAreNoKeysAndEndAWholeSectionRead) {
  IniDocument d = ParseIni("[PortMapping]\r\nweb=1; 2\r\n; a comment\r\nmail=3\r\nno equals here\r\nlate=4\r\n");
  EXPECT_EQ(FindValue(d, "PortMapping", "no equals here"), nullptr);
  std::vector<IniLine> entries = SectionEntries(d, "portmapping");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].key, "web");
  EXPECT_EQ(entries[1].key, "mail");
  EXPECT_NE(FindValue(d, "PortMapping", "late"), nullptr) << "single reads still see it";
}

TEST(IniParse, BoundedOnHostileInput) {
  std::string longLine = "[System]\nHttpPort=" + std::string(kIniMaxLine * 3, '9') + "\n";
  IniDocument d = ParseIni(longLine);
  ASSERT_NE(FindValue(d, "System", "HttpPort"), nullptr);
  EXPECT_LT(FindValue(d, "System", "HttpPort")->size(), kIniMaxLine);

  std::string many = "[Users]\n";
  for (int i = 0; i < 20000; ++i) many += "user" + std::to_string(i) + "=x\n";
  IniDocument big = ParseIni(many);
  EXPECT_EQ(*FindValue(big, "Users", "user19999"), "x");

  const char raw[] = "[Sys\0tem]\nk\0ey=v\0al\n";
  std::string nul(raw, sizeof(raw) - 1);
  IniDocument withNul = ParseIni(nul);  // must simply not crash
  EXPECT_GE(withNul.sections.size(), 1u);
}

TEST(IniEdit, SetKeepsOtherLinesAndAppendsNewKeysToTheirSection) {
  IniDocument d = ParseIni("; header\r\n[System]\r\nA=1\r\n\r\n[Users]\r\nbob=x\r\n");
  ASSERT_TRUE(SetValue(d, "system", "a", "2"));
  ASSERT_TRUE(SetValue(d, "System", "B", "3"));
  ASSERT_TRUE(SetValue(d, "Tickets", "bob", "t"));
  EXPECT_EQ(FormatIni(d), "; header\r\n[System]\r\nA=2\r\nB=3\r\n\r\n[Users]\r\nbob=x\r\n\r\n[Tickets]\r\nbob=t\r\n");
  EXPECT_TRUE(RemoveKey(d, "USERS", "BOB"));
  EXPECT_EQ(FindValue(d, "Users", "bob"), nullptr);
  EXPECT_FALSE(SetValue(d, "System", "bad=key", "v"));
  EXPECT_FALSE(SetValue(d, "System", "k", "line\nbreak"));
  EXPECT_FALSE(SetValue(d, "System", "", "v"));
}

TEST(IniEdit, ParseFormatParseIsStable) {
  const std::string text = "x\r\n[A]\r\n k = v \r\n[B]\r\n\r\n;c\r\nz=\"q\"\r\n";
  std::string once = FormatIni(ParseIni(text));
  EXPECT_EQ(once, text);
  EXPECT_EQ(FormatIni(ParseIni(once)), once);
}

TEST(IniFileAccess, WritesGoStraightToTheFileAndSurviveConcurrentWriters) {
  char name[] = "/tmp/brindlex-ini-XXXXXX";
  ::close(::mkstemp(name));
  std::string path = name;
  EXPECT_EQ(IniReadString(path, "System", "Missing", "dflt"), "dflt");
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) IniWriteString(path, "S" + std::to_string(t), "k" + std::to_string(i), "v");
    });
  for (auto& w : writers) w.join();
  IniDocument d = LoadIniFile(path);
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 25; ++i)
      EXPECT_NE(FindValue(d, "S" + std::to_string(t), "k" + std::to_string(i)), nullptr) << t << " " << i;
  EXPECT_TRUE(IniDeleteKey(path, "S0", "k0"));
  EXPECT_EQ(IniReadString(path, "S0", "k0", "gone"), "gone");
  EXPECT_EQ(IniReadString(path, "S1", "k1", "", 0), "") << "reads are cut to the given size";
  std::remove(path.c_str());
  std::remove(IniLockPath(path).c_str());
}

// A settings file in a fresh temporary name, removed with its lock file.
class IniFileProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/brindlex-ini-XXXXXX";
    ::close(::mkstemp(name));
    path_ = name;
  }
  void TearDown() override {
    std::remove(path_.c_str());
    std::remove(IniLockPath(path_).c_str());
  }
  std::string path_;
};

TEST_F(IniFileProcesses, TwoProcessesWritingOneFileKeepEachOthersKeys) {
  constexpr int kKeys = 150;
  auto writeKeys = [&](const std::string& section) {
    for (int i = 0; i < kKeys; ++i) IniWriteString(path_, section, "k" + std::to_string(i), "v");
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    writeKeys("Child");
    ::_exit(0);
  }
  writeKeys("Parent");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  IniDocument d = LoadIniFile(path_);
  int missing = 0;
  for (const char* section : {"Child", "Parent"})
    for (int i = 0; i < kKeys; ++i) missing += FindValue(d, section, "k" + std::to_string(i)) == nullptr;
  EXPECT_EQ(missing, 0) << "a rewrite of one process dropped keys the other had written";
}

TEST_F(IniFileProcesses, AWriteWaitsWhileAnotherProcessHoldsTheLockFile) {
  // A lock taken through a descriptor of its own stands for another process:
  // flock locks belong to the open file, not to the process.
  int other = ::open(IniLockPath(path_).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  std::thread writer([&] { IniWriteString(path_, "System", "Key", "written"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Read past the module: the waiting writer holds the process mutex.
  std::ifstream file(path_, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), "") << "the write did not wait for the lock";
  ::flock(other, LOCK_UN);
  writer.join();
  ::close(other);
  EXPECT_EQ(IniReadString(path_, "System", "Key", "absent"), "written");
}

}  // namespace
}  // namespace brindlex
