// `brindlex status`: the figures of the running gateway as the status text,
// or a line on standard error and exit code 3 when none answers.
#include <stdio.h>

#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "core/program_folder.h"

namespace brindlex {
namespace {

// A stream whose text can be read back.
class Captured {
 public:
  Captured() : file_(std::tmpfile()) {}
  ~Captured() { std::fclose(file_); }
  std::FILE* get() const { return file_; }
  std::string Text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    for (int c; (c = std::fgetc(file_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  std::FILE* file_;
};

TEST(StatusCommand, IsUnderstoodAloneOnly) {
  EXPECT_EQ(ParseCommandLine({"status"}).kind, CommandKind::Status);
  EXPECT_EQ(ParseCommandLine({"status", "now"}).kind, CommandKind::Unknown);
  EXPECT_EQ(ParseCommandLine({"--status"}).kind, CommandKind::Unknown);
}

TEST(StatusCommand, PrintsTheStatusTextOfTheFiguresItObtains) {
  GatewayFigures figures;
  figures.connections = 17;
  figures.counters.services[0].bytesToClients = 123456;
  Captured out, err;
  int asked = 0;
  int rc = RunCommand(ParseCommandLine({"status"}), "unused.ini", out.get(), err.get(), [&] {
    ++asked;
    return std::optional<GatewayFigures>(figures);
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(out.Text(), FormatStatus(figures));
  EXPECT_EQ(err.Text(), "");
}

TEST(StatusCommand, WithoutAGatewaySaysSoOnStandardErrorAndExitsThree) {
  SetProgramFolder("/nonexistent/brindlex-folder");
  Captured out, err;
  EXPECT_EQ(RunCommand(ParseCommandLine({"status"}), "unused.ini", out.get(), err.get(),
                       [] { return std::optional<GatewayFigures>(); }),
            3);
  EXPECT_EQ(out.Text(), "");
  const std::string said = err.Text();
  EXPECT_NE(said.find("/nonexistent/brindlex-folder"), std::string::npos) << said;
  EXPECT_EQ(said.back(), '\n');
  // Until the administration channel's client is given, no gateway is found.
  Captured out2, err2;
  EXPECT_EQ(RunCommand(ParseCommandLine({"status"}), "unused.ini", out2.get(), err2.get()), 3);
  EXPECT_EQ(err2.Text(), said);
}

}  // namespace
}  // namespace brindlex
