// One command line of an FTP client, read as an FTP server reads it: Telnet
// codes anywhere in the line are not part of the command, blanks before the
// name do not count and the name has no case. The gateway decides what a
// command is on this reading alone, and passes on the same reading, so that
// a command it checks (PORT, EPRT) cannot reach the server as another.
//
// Pure: reads only inside the text it is given.
#pragma once

#include <string>
#include <string_view>

namespace brindlex {

// Telnet's "interpret as command" byte: with the byte after it (and for WILL,
// WONT, DO and DONT the option after that) a code, not text; doubled, the
// byte itself.
inline constexpr char kTelnetIac = '\xFF';

struct FtpCommand {
  // The line without Telnet codes, blanks in front and its line end.
  std::string text;
  // The first word in lower case ("pasv"); empty for a blank line.
  std::string name;
  // After the name and its blanks: up to the next blank, and up to the line
  // end.
  std::string argument;
  std::string rest;
};

// Reads one line (its line end may be included); the result is never longer
// than the line.
FtpCommand ReadFtpCommand(std::string_view line);

// The text as a line for the server: a 0xFF byte doubled, as Telnet writes
// it, and CR LF at the end.
std::string FtpLine(std::string_view text);

}  // namespace brindlex
