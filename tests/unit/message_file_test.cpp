#include "core/message_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "core/program_folder.h"
#include "core/strings.h"

namespace brindlex {
namespace {

const std::string kFile =
    "; a comment line without a number\r\n"
    "  421 First text\r\n"
    "421 Second text for the same number\r\n"
    "4220 Not 422\n"
    "\t422\tTabs around\n"
    "99999999999999999999 overflow\n"
    "426\n"
    "427 Last line without an end";

TEST(MessageLookup, FirstLineWithTheNumberGivesTheRestOfTheLine) {
  const std::pair<int, const char*> found[] = {
      {421, "First text"}, {4220, "Not 422"}, {422, "Tabs around"}, {426, ""}, {427, "Last line without an end"},
  };
  for (const auto& [number, text] : found) {
    std::string message = "stale";
    EXPECT_TRUE(FindMessage(kFile.data(), kFile.size(), number, message)) << number;
    EXPECT_EQ(message, text) << number;
  }
  std::string message;
  for (int missing : {0, 42, 425, -1, 2147483647})
    EXPECT_FALSE(FindMessage(kFile.data(), kFile.size(), missing, message));
}

TEST(MessageLookup, FedByteByByteALineIsFoundOnlyOnceItIsThere) {
  const std::string line = "427 Last line without an end";
  for (size_t n = 0; n <= kFile.size(); ++n) {
    std::unique_ptr<char[]> prefix(new char[n + 1]);  // exact size: the sanitizer sees any overread
    std::memcpy(prefix.get(), kFile.data(), n);
    std::string message;
    bool found = FindMessage(prefix.get(), n, 427, message);
    const size_t textBegin = kFile.size() - line.size() + 4;  // after "427 "
    EXPECT_EQ(found, n >= textBegin - 1) << n;
    if (found) {
      EXPECT_EQ(message, kFile.substr(textBegin, n - std::min(n, textBegin))) << n;
    }
  }
}

TEST(MessageFile, MissingFileAndMissingNumberGiveTheFallbackStrings) {
  std::string saved = ProgramFolder();
  char pattern[] = "/tmp/brindlex-messages-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  std::string folder = pattern;
  SetProgramFolder(folder);
  ASSERT_TRUE(EnsureFolder(WwwrootFolder()));
  EXPECT_EQ(MessageText(421), Str(784));
  std::ofstream(WwwrootFolder() + "/messages.txt") << kFile;
  EXPECT_EQ(MessageText(421), "First text");
  EXPECT_EQ(MessageText(425), Str(785));
  EXPECT_FALSE(Str(784).empty());
  EXPECT_FALSE(Str(785).empty());
  SetProgramFolder(saved);
  std::system(("rm -rf '" + folder + "'").c_str());
}

}  // namespace
}  // namespace brindlex
