// The lines of an FTP server's directory listing, read into the rows of the
// listing page a browser gets. Servers answer LIST in the Unix form of "ls -l"
// or in the DOS form; the two are told apart by the first character.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindlex {

struct ListingEntry {
  std::string name;
  bool directory = false;
  std::string size;   // as the server wrote it; empty for a DOS directory
  std::string month;  // the DOS date
  std::string day;    // empty in the DOS form
  std::string time;   // or the year
};

// One line of a listing, its line end excluded or included. A line starting
// with "d" or "-" is a Unix line (permissions, links, owner and group are
// skipped, then size, month, day, time or year, then the name up to the line
// end); any other is a DOS line (date, time, size or "<dir>", name). Nothing
// for a line without a name ("total 12", an empty or cut-off line).
std::optional<ListingEntry> ParseListingLine(std::string_view line);

// The size column: kilobytes below one megabyte of `kbPerMb` KB ("12K"),
// megabytes with two decimals from there on ("1.50M"). A size that is not a
// number counts as 0.
std::string SizeText(std::string_view size, int kbPerMb);

// The row of the listing page for an entry of the directory `path` (which
// ends in "/"): an anchor to the entry, blanks up to column 40, then
// "Directory" or the size, and the date fields.
std::string ListingRow(const ListingEntry& entry, std::string_view path, int kbPerMb);

}  // namespace brindlex
