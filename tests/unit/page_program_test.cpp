#include "web/page_program.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace brindlex {
namespace {

class PageProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex-page-program-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + folder_ + "'").c_str()); }

  std::string Script(const std::string& name, const std::string& body) {
    std::string path = folder_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
    return path;
  }

  // No child of this process is left, running or a zombie.
  static bool NoChildLeft() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

  std::string folder_;
};

TEST_F(PageProgram, TheProgramReadsTheQueryAndItsOutputIsThePage) {
  ProgramRun run = RunPageProgram(Script("echo.exe", "read line\nprintf 'got [%s]' \"$line\"\n"), "x=1\n");
  EXPECT_EQ(run.end, ProgramEnd::kFinished);
  EXPECT_EQ(run.output, "got [x=1]");
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(PageProgram, AProgramThatIgnoresItsInputStillGivesItsPage) {
  ProgramRun run = RunPageProgram(Script("quiet.exe", "echo done\n"), std::string(200000, 'q') + "\n");
  EXPECT_EQ(run.end, ProgramEnd::kFinished);
  EXPECT_EQ(run.output, "done\n");
}

TEST_F(PageProgram, AProgramThatNeverEndsIsKilledAtTheLimitWithWhatItWrote) {
  std::string path = Script("sleeper.exe", "echo started\nsleep 1234\n");
  auto start = std::chrono::steady_clock::now();
  ProgramRun run = RunPageProgram(path, "null\n", {std::chrono::milliseconds(400), 1024});
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.end, ProgramEnd::kTimedOut);
  EXPECT_EQ(run.output, "started\n");
  EXPECT_GE(took, std::chrono::milliseconds(400));
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_TRUE(NoChildLeft());
  // The sleep it started was in its process group and died with it.
  EXPECT_NE(std::system("pgrep -f 'slee[p] 1234' >/dev/null"), 0);
}

TEST_F(PageProgram, AProgramThatClosesItsOutputButRunsOnIsKilledToo) {
  ProgramRun run = RunPageProgram(Script("lingers.exe", "echo page\nexec >&-\nsleep 1000\n"), "null\n",
                                  {std::chrono::milliseconds(300), 1024});
  EXPECT_EQ(run.end, ProgramEnd::kTimedOut);
  EXPECT_EQ(run.output, "page\n");
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(PageProgram, AFloodIsCutAtTheCapAndTheProgramKilled) {
  ProgramRun run = RunPageProgram(Script("flood.exe", "exec yes\n"), "null\n", {std::chrono::seconds(5), 100000});
  EXPECT_EQ(run.end, ProgramEnd::kFlooded);
  EXPECT_EQ(run.output.size(), 100000u);
  EXPECT_EQ(run.output.substr(0, 4), "y\ny\n");
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(PageProgram, AFileThatCannotRunIsNotStarted) {
  std::string path = folder_ + "/text.exe";
  std::ofstream(path) << "not a program\n";
  ::chmod(path.c_str(), 0644);
  EXPECT_EQ(RunPageProgram(path, "null\n").end, ProgramEnd::kNotStarted);
  EXPECT_TRUE(NoChildLeft());
}

}  // namespace
}  // namespace brindlex
