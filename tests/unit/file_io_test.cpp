#include "core/file_io.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

#include "core/ini_file.h"

namespace brindlex {
namespace {

class AtomicWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex_fileio_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // The names in the folder, so a test sees any temporary file left over.
  std::string Names() {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
      names += entry.path().filename().string() + " ";
    return names;
  }
  std::string folder_;
};

TEST_F(AtomicWriteTest, ReplacesTheContentAndLeavesNoTemporaryFile) {
  std::string path = folder_ + "/data.txt";
  ASSERT_TRUE(WriteFileAtomically(path, "first"));
  ASSERT_TRUE(WriteFileAtomically(path, "second, longer"));
  EXPECT_EQ(Read(path), "second, longer");
  ASSERT_TRUE(WriteFileAtomically(path, ""));
  EXPECT_EQ(Read(path), "");
  EXPECT_EQ(Names(), "data.txt ");
}

TEST_F(AtomicWriteTest, AFailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
  std::string path = folder_ + "/data.txt";
  ASSERT_TRUE(WriteFileAtomically(path, "old"));
  // The temporary file cannot be made: its name is a folder.
  std::filesystem::create_directory(path + ".tmp");
  EXPECT_FALSE(WriteFileAtomically(path, "new"));
  EXPECT_EQ(Read(path), "old");
  std::filesystem::remove(path + ".tmp");

  // The rename fails: the target is a folder that is not empty. The
  // temporary file written meanwhile is taken away again.
  std::string taken = folder_ + "/taken";
  std::filesystem::create_directories(taken + "/inside");
  EXPECT_FALSE(WriteFileAtomically(taken, "new"));
  EXPECT_TRUE(std::filesystem::is_directory(taken + "/inside"));
  EXPECT_EQ(Names().find(".tmp"), std::string::npos) << Names();

  // A parent that is a file: nothing can be created under it.
  EXPECT_FALSE(WriteFileAtomically(path + "/below", "new"));
  EXPECT_EQ(Read(path), "old");
}

// The settings file goes through the same writer: a write that fails leaves
// every key of the old file readable.
TEST_F(AtomicWriteTest, AFailedSettingsWriteKeepsTheOldFile) {
  std::string path = folder_ + "/Brindlex.ini";
  ASSERT_TRUE(IniWriteString(path, "System", "HttpPort", "8080"));
  std::string before = Read(path);
  std::filesystem::create_directory(path + ".tmp");
  EXPECT_FALSE(IniWriteString(path, "System", "HttpPort", "3128"));
  EXPECT_EQ(Read(path), before);
  EXPECT_EQ(IniReadString(path, "System", "HttpPort", ""), "8080");
}

}  // namespace
}  // namespace brindlex
