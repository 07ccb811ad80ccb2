#include "core/program_folder.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace brindlex {
namespace {

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex_folder_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string folder_;
};

TEST_F(InstanceLockTest, TheHolderOfTheLockIsFoundByItsPid) {
  EXPECT_EQ(InstanceLockHolder(folder_), 0) << "no lock file: nobody holds it";
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/brindlex.lock")) << "looking does not create the file";

  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    char byte = AcquireInstanceLock(folder_) >= 0 ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    (void)!::read(release[0], &byte, 1);  // until the parent closes its end
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');

  EXPECT_EQ(InstanceLockHolder(folder_), child);
  EXPECT_EQ(AcquireInstanceLock(folder_), kInstanceLockHeld);

  ::close(release[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(ready[0]);
  EXPECT_EQ(InstanceLockHolder(folder_), 0) << "the lock ends with its process";
  int fd = AcquireInstanceLock(folder_);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(InstanceLockHolder(folder_), 0) << "a process never sees its own lock";
  ::close(fd);
}

// The holder opens and closes the lock file elsewhere (as a file dialog
// listing the folder would): its lock and its pid must stay visible.
TEST_F(InstanceLockTest, TheLockSurvivesTheHolderClosingAnotherDescriptorOfTheFile) {
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    int lock = AcquireInstanceLock(folder_);
    int other = ::open((folder_ + "/brindlex.lock").c_str(), O_RDONLY);
    char byte = lock >= 0 && other >= 0 && ::close(other) == 0 && InstanceLockHolder(folder_) == 0 ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    (void)!::read(release[0], &byte, 1);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');

  EXPECT_EQ(InstanceLockHolder(folder_), child) << "the running gateway is still found";
  EXPECT_EQ(AcquireInstanceLock(folder_), kInstanceLockHeld) << "no second gateway on the same folder";

  ::close(release[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(ready[0]);
}

TEST_F(InstanceLockTest, APidLeftInTheFileWithoutTheLockMeansNotRunning) {
  int fd = AcquireInstanceLock(folder_);
  ASSERT_GE(fd, 0);
  ::close(fd);
  // The ended holder's line is still there, and names a live process (the
  // test's parent, so that only the lock can tell).
  std::string left;
  {
    std::ifstream in(folder_ + "/brindlex.lock");
    std::getline(in, left);
  }
  EXPECT_EQ(left.substr(0, left.find(' ')), std::to_string(::getpid()));
  std::ofstream(folder_ + "/brindlex.lock") << ::getppid() << left.substr(left.find(' ')) << "\n";
  EXPECT_EQ(InstanceLockHolder(folder_), 0);
}

TEST_F(InstanceLockTest, AFolderThatDoesNotExistIsUnavailableAndHeldByNobody) {
  std::string missing = folder_ + "/none";
  EXPECT_EQ(AcquireInstanceLock(missing), kInstanceLockUnavailable);
  EXPECT_EQ(InstanceLockHolder(missing), 0);
}

}  // namespace
}  // namespace brindlex
