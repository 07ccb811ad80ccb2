// The FTP server's replies and the address texts of the data channel, read
// from buffers the other side filled. Every function here is pure and reads
// only inside the text it is given.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/value_codec.h"

namespace brindlex {

// The reply code of one line (its line end may be included): the decimal
// number it starts with when a blank follows. -1 for a continuation line of a
// multi-line reply ("220-..."), a line without a number, or a number too long
// to be a code: such lines are dropped, never answered or passed on.
int ReplyCode(std::string_view line);

// A data channel's end as the six numbers "h1,h2,h3,h4,p1,p2" give it.
struct DataAddress {
  Ipv4 address = kNoAddress;
  int port = 0;
};

// Six comma-separated numbers at the start of `text`, each 0..255; what
// follows the sixth is not read. No address for anything else, for the
// all-zero host and for port 0.
std::optional<DataAddress> ParseAddressNumbers(std::string_view text);
// The address of a 227 answer, from its first "(" on; none without one.
std::optional<DataAddress> ParsePassiveAnswer(std::string_view line);
// The address a PORT command's argument names (the blanks after the command
// name already skipped).
std::optional<DataAddress> ParsePortArgument(std::string_view argument);
// The extended forms name a port, and EPRT an address, between four
// delimiters: one character 33..126 chosen by the sender, the same each time.
// The port of a 229 answer, "(|||port|)" from its first "(" on; none without
// one and for a port outside 1..65535.
std::optional<int> ParseExtendedPassiveAnswer(std::string_view line);
// The address an EPRT argument names, "|1|a.b.c.d|port|" and nothing after
// it: network protocol 1 (IPv4) only, the address as a dotted quad, neither
// all zeros nor all ones, the port 1..65535.
std::optional<DataAddress> ParseExtendedPortArgument(std::string_view argument);
// "h1,h2,h3,h4,p1,p2", the form PORT and 227 write an address in.
std::string FormatAddressNumbers(Ipv4 address, int port);

// The directory a 257 answer names, as a path with "/" at both ends ("/" for
// the root): after the code, blanks and double quotes are skipped, a leading
// "/" is dropped and the name runs to the next double quote or line end.
std::string DirectoryOf257(std::string_view line);

}  // namespace brindlex
