// The settings file: an INI text of "[section]" lines and "key=value" lines.
//
// Section and key names compare without regard to ASCII case. The first of
// several equal keys wins. Reading is a pure parse of bytes (bounded: lines are
// cut at kIniMaxLine bytes, the file at kIniMaxFile bytes), so any file, even
// binary garbage, yields some document and never crashes.
//
// Every write goes straight to the file: the file is read, changed and written
// to a temporary file that replaces it, so a crash leaves the old or the new
// file, never half of one. One process-wide mutex serialises all file access,
// as the platform's profile functions do; every write also holds an exclusive
// flock on the file's lock file (IniLockPath), so that a write of another
// process (the gateway's and the command line's) never overlaps it and each
// read-change-write keeps the keys the other process wrote.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brindlex {

inline constexpr size_t kIniMaxLine = 65536;
inline constexpr size_t kIniMaxFile = 64u << 20;

struct IniLine {
  bool isKey = false;  // "key=value" line; otherwise kept verbatim in `raw`
  std::string key;     // trimmed
  std::string value;   // trimmed, one pair of surrounding quotes removed
  std::string raw;     // the line as read, without its line end
};

struct IniSection {
  std::string name;  // without brackets; empty for lines before the first section
  std::vector<IniLine> lines;
};

struct IniDocument {
  std::vector<IniSection> sections;
};

IniDocument ParseIni(std::string_view text);
std::string FormatIni(const IniDocument& document);

const IniSection* FindSection(const IniDocument& document, std::string_view section);
// The value of a key, or nullptr when the section or key is absent.
const std::string* FindValue(const IniDocument& document, std::string_view section, std::string_view key);
// Sets (or adds at the end of its section, creating the section at the end of
// the file) a key. Returns false when the name is not storable: empty, holding
// '=', '[' at its start, or a line break; or when the value holds a line break.
bool SetValue(IniDocument& document, std::string_view section, std::string_view key, std::string_view value);
// Removes a key; returns whether it existed.
bool RemoveKey(IniDocument& document, std::string_view section, std::string_view key);
// Removes a whole section.
bool RemoveSection(IniDocument& document, std::string_view section);
// Clears a section and writes `entries` (key, value) into it in order, where
// the section stands (a new one goes at the end of the file); the blank and
// comment lines after its last key stay. Returns false, leaving the document
// as it was, when an entry is not storable (SetValue).
bool ReplaceSectionKeys(IniDocument& document, std::string_view section,
                        const std::vector<std::pair<std::string, std::string>>& entries);

// File access. A missing or unreadable file reads as empty.
std::mutex& IniFileMutex();
IniDocument LoadIniFile(const std::string& path);
// The lock file beside the settings file at `path`: path + ".lock".
std::string IniLockPath(const std::string& path);
// Replaces the file with the document. Returns false when it could not be written.
bool SaveIniFile(const std::string& path, const IniDocument& document);

// Reads the file afresh, lets `change` edit it and writes it back, all under
// the locks every write takes, so that no other writer's key is lost in
// between. False, leaving the file as it was, when `change` refuses or the
// file cannot be written.
bool IniChangeFile(const std::string& path, const std::function<bool(IniDocument&)>& change);

// Profile-style one-key operations on a file (each reads the file afresh).
std::string IniReadString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback, size_t maxBytes = 1024);
bool IniWriteString(const std::string& path, std::string_view section, std::string_view key, std::string_view value);
bool IniDeleteKey(const std::string& path, std::string_view section, std::string_view key);
// Whether the file keeps the text as it is: no control byte (a line break
// would end the line) and no ';' (which separates the items of a value); as
// a key, also no '=' (which ends the key) and no '[' or ']' (a section line).
bool IniStorable(std::string_view text, bool key);
bool IniReplaceSection(const std::string& path, std::string_view section,
                       const std::vector<std::pair<std::string, std::string>>& entries);
// The "name=value" lines of one section in file order, as a whole-section read
// returns them; a line without '=' ends the list.
std::vector<IniLine> IniReadSection(const std::string& path, std::string_view section);
std::vector<IniLine> SectionEntries(const IniDocument& document, std::string_view section);

}  // namespace brindlex
