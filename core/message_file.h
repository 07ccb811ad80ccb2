// The message file wwwroot/messages.txt: numbered texts of reply pages,
// refusals and web pages, one per line ("  421 text..."). It belongs to the
// installation and may be edited while the program runs, so it is read anew
// at every lookup. Safe from any thread.
#pragma once

#include <cstddef>
#include <string>

namespace brindlex {

// Finds the text of `number` in the bytes of a message file: the first line
// of optional blanks, that decimal number, blanks, then the text up to CR or
// LF. Returns false when no line carries the number.
bool FindMessage(const char* bytes, size_t length, int number, std::string& text);

// Reads at most `maxBytes` of a file (close-on-exec, so a program started
// meanwhile inherits nothing). False when the file cannot be opened.
bool ReadInstallationFile(const std::string& path, size_t maxBytes, std::string& bytes);

// The text of a numbered message from the installation's message file; a
// missing file gives string 784, a missing number string 785.
std::string MessageText(int number);

}  // namespace brindlex
