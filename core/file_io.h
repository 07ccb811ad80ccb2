// Whole-file reads and writes shared by the modules that keep files: bounded
// reads (a file is outside input), rewrites that never leave half a file, and
// appends of one piece with a single write.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace brindlex {

// Reads at most maxBytes of the file into `text`. False when it cannot be opened.
bool ReadFileBounded(const std::string& path, size_t maxBytes, std::string& text);
// Writes a temporary file (`path` + ".tmp") beside `path`, flushes it to the
// disk, renames it over `path` and flushes the folder, so that a crash or a
// power cut leaves the old or the new content, never an empty or missing
// file. Every writer of a whole file goes through here. False on any failure:
// the old file is left as it was (unless only the last flush of the folder
// failed) and no temporary file stays behind.
// The file is made with `mode` (less the umask); secrets pass 0600.
bool WriteFileAtomically(const std::string& path, std::string_view text, mode_t mode = 0644);
// Appends the bytes with one write to a file opened for appending (created
// when missing). False when the file could not be opened or written; a write
// that stopped part way (a full disk) is cut back, so the file never ends in
// part of the bytes.
bool AppendToFile(const std::string& path, std::string_view bytes);
// The same on a descriptor opened with O_APPEND (that only this process
// writes to); errno tells why when it fails.
bool AppendWhole(int fd, std::string_view bytes);
// Closes a descriptor (socket, pipe or file) if open and marks it closed (-1).
void CloseDescriptor(int& fd);

}  // namespace brindlex
