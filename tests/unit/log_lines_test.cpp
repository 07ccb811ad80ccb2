#include "core/log_lines.h"

#include <unistd.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brindlex {
namespace {

std::vector<std::string> Split(const std::string& text, LogLineRules rules, size_t piece) {
  std::vector<std::string> lines;
  LogLineSplitter splitter(rules, [&](std::string_view line) { lines.emplace_back(line); });
  for (size_t at = 0; at < text.size(); at += piece)
    if (!splitter.Feed(std::string_view(text).substr(at, piece))) break;
  splitter.Finish();
  return lines;
}

constexpr LogLineRules kSkipAndReadAll{OverlongLine::kSkipped, UnfinishedLine::kRead};

TEST(LogLineSplitter, LinesSplitAtLfWhateverThePiecesTheBytesComeIn) {
  const std::string text = "a, 1\r\nb, 2\n\nc, 3\n";
  const std::vector<std::string> expected{"a, 1\r", "b, 2", "", "c, 3"};
  for (size_t piece : {size_t{1}, size_t{2}, size_t{5}, text.size()})
    EXPECT_EQ(Split(text, LogLineRules{}, piece), expected) << "pieces of " << piece;
}

TEST(LogLineSplitter, AnOverlongLineIsSkippedAndReadingGoesOn) {
  const std::string longest(kLogLineBuffer - 1, 'y');
  const std::string text = "a\n" + std::string(3 * kLogLineBuffer + 7, 'x') + "\nb\n" + longest + "\nc";
  for (size_t piece : {size_t{1000}, size_t{kLogLineBuffer}, text.size()}) {
    std::vector<std::string> lines = Split(text, kSkipAndReadAll, piece);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", longest, "c"})) << "pieces of " << piece;
  }
  // One byte more than fits, and no LF after it: still dropped at the end.
  EXPECT_EQ(Split("a\n" + std::string(kLogLineBuffer, 'x'), kSkipAndReadAll, 100), std::vector<std::string>{"a"});
}

TEST(LogLineSplitter, AnOverlongLineEndsTheLogWhenTheRulesSaySo) {
  const std::string text = "a\n" + std::string(kLogLineBuffer, 'x') + "\nb\n";
  std::vector<std::string> lines;
  LogLineSplitter splitter(LogLineRules{}, [&](std::string_view line) { lines.emplace_back(line); });
  EXPECT_FALSE(splitter.Feed(text));
  EXPECT_FALSE(splitter.Feed("c\n"));
  splitter.Finish();
  EXPECT_EQ(lines, std::vector<std::string>{"a"});
}

TEST(LogLineSplitter, AnUnfinishedLastLineIsReadOnlyWhenTheRulesSaySo) {
  EXPECT_EQ(Split("a\nhalf, writ", kSkipAndReadAll, 3), (std::vector<std::string>{"a", "half, writ"}));
  EXPECT_EQ(Split("a\nhalf, writ", LogLineRules{}, 3), std::vector<std::string>{"a"});
}

TEST(LogLineSplitter, AFileIsReadThroughTheSameRules) {
  char name[] = "/tmp/brindlex-lines-XXXXXX";
  int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  std::string text = std::string(20000, 'x') + "\nkept\nhalf";
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);
  std::vector<std::string> lines;
  std::int64_t lastCount = 0;
  EXPECT_TRUE(ReadLogLines(
      name, kSkipAndReadAll, [&](std::string_view line) { lines.emplace_back(line); },
      [&](std::int64_t bytes) { lastCount = bytes; }));
  ::unlink(name);
  EXPECT_EQ(lines, (std::vector<std::string>{"kept", "half"}));
  EXPECT_EQ(lastCount, static_cast<std::int64_t>(text.size()));
}

}  // namespace
}  // namespace brindlex
