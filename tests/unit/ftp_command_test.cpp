#include "ftp/ftp_command.h"

#include <gtest/gtest.h>
#include <string>

namespace brindlex {
namespace {

TEST(FtpCommand, NameAndArgumentsOfAPlainLine) {
  FtpCommand c = ReadFtpCommand("PORT 127,0,0,1,19,136\r\n");
  EXPECT_EQ(c.name, "port");
  EXPECT_EQ(c.argument, "127,0,0,1,19,136");
  EXPECT_EQ(c.rest, "127,0,0,1,19,136");
  EXPECT_EQ(c.text, "PORT 127,0,0,1,19,136");
  c = ReadFtpCommand("RETR  my file.bin\n");
  EXPECT_EQ(c.name, "retr");
  EXPECT_EQ(c.argument, "my") << "the argument ends at a blank";
  EXPECT_EQ(c.rest, "my file.bin") << "the rest runs to the line end";
  c = ReadFtpCommand("PASV");
  EXPECT_EQ(c.name, "pasv") << "no line end: the line is all there is";
  EXPECT_EQ(c.argument, "");
  EXPECT_EQ(c.rest, "");
}

TEST(FtpCommand, TheNameHasNoCaseAndBlanksBeforeItDoNotCount) {
  for (const char* line :
       {"port 1,2,3,4,5,6\r\n", "PoRt 1,2,3,4,5,6\r\n", " PORT 1,2,3,4,5,6\r\n", "\t \tPORT\t1,2,3,4,5,6\r\n"}) {
    FtpCommand c = ReadFtpCommand(line);
    EXPECT_EQ(c.name, "port") << line;
    EXPECT_EQ(c.argument, "1,2,3,4,5,6") << line;
  }
  EXPECT_EQ(ReadFtpCommand(" PORT 1,2,3,4,5,6\r\n").text, "PORT 1,2,3,4,5,6") << "what goes on has no blank in front";
  EXPECT_EQ(ReadFtpCommand("PORTX 1\r\n").name, "portx") << "the whole word is the name";
}

TEST(FtpCommand, TelnetCodesAreNotPartOfTheCommand) {
  // Interrupt process and data mark, as a client sends them before ABOR.
  FtpCommand c = ReadFtpCommand(
      "\xFF\xF4\xFF\xF2"
      "ABOR\r\n");
  EXPECT_EQ(c.name, "abor");
  EXPECT_EQ(c.text, "ABOR");
  // Negotiations carry an option byte, which is no letter of the command.
  c = ReadFtpCommand("\xFF\xFB\x01P\xFF\xFE\x03ORT 1,2,3,4,5,6\r\n");
  EXPECT_EQ(c.name, "port");
  EXPECT_EQ(c.argument, "1,2,3,4,5,6");
  c = ReadFtpCommand(" \xFF\xF1 PASV\r\n");
  EXPECT_EQ(c.name, "pasv") << "blanks and codes mixed in front";
  // A doubled code byte is the byte itself.
  c = ReadFtpCommand(
      "RETR a\xFF\xFF"
      "b\r\n");
  EXPECT_EQ(c.argument,
            "a\xFF"
            "b");
  EXPECT_EQ(FtpLine(c.text),
            "RETR a\xFF\xFF"
            "b\r\n")
      << "and doubled again on its way on";
}

TEST(FtpCommand, ACodeCutOffByTheLineEndIsDropped) {
  EXPECT_EQ(ReadFtpCommand("NOOP\xFF").text, "NOOP");
  EXPECT_EQ(ReadFtpCommand("NOOP\xFF\xFD").text, "NOOP");
  EXPECT_EQ(ReadFtpCommand("NOOP\xFF\r\n").text, "NOOP") << "the code takes the CR, the LF ends the line";
  EXPECT_EQ(ReadFtpCommand("\xFF").name, "");
}

TEST(FtpCommand, BlankAndEmptyLinesHaveNoName) {
  for (const char* line : {"", "\r\n", "   \r\n", "\xFF\xF4\r\n"}) {
    FtpCommand c = ReadFtpCommand(line);
    EXPECT_EQ(c.name, "") << line;
    EXPECT_EQ(c.argument, "") << line;
  }
}

TEST(FtpCommand, AnOverlongLineIsReadWithinItself) {
  std::string line = "STOR " + std::string(20000, 'x') + "\r\nPASV\r\n";
  FtpCommand c = ReadFtpCommand(line);
  EXPECT_EQ(c.name, "stor");
  EXPECT_EQ(c.argument.size(), 20000u) << "the first line only";
  EXPECT_LE(c.text.size(), line.size());
}

TEST(FtpCommand, TheLineForTheServerEndsInCrLf) {
  EXPECT_EQ(FtpLine("PASV"), "PASV\r\n");
  EXPECT_EQ(FtpLine(""), "\r\n");
  EXPECT_EQ(FtpLine("\xFF"), "\xFF\xFF\r\n");
}

}  // namespace
}  // namespace brindlex
