#include "core/ini_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "core/file_io.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

IniLine ParseLine(std::string_view raw) {
  IniLine line;
  line.raw.assign(raw);
  std::string_view trimmed = Trim(raw);
  if (trimmed.empty() || trimmed.front() == ';') return line;
  size_t eq = raw.find('=');
  if (eq == std::string_view::npos) return line;
  std::string_view key = Trim(raw.substr(0, eq));
  if (key.empty()) return line;
  std::string_view value = Trim(raw.substr(eq + 1));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  line.isKey = true;
  line.key.assign(key);
  line.value.assign(value);
  return line;
}

bool IsSectionHeader(std::string_view raw, std::string_view& name) {
  std::string_view trimmed = Trim(raw);
  if (trimmed.size() < 2 || trimmed.front() != '[') return false;
  size_t close = trimmed.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(trimmed.substr(1, close - 1));
  return true;
}

IniSection* FindSectionMutable(IniDocument& document, std::string_view section) {
  for (auto& s : document.sections)
    if (EqualsNoCase(s.name, section)) return &s;
  return nullptr;
}

bool HasLineBreak(std::string_view text) {
  return text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos ||
         text.find('\0') != std::string_view::npos;
}

}  // namespace

IniDocument ParseIni(std::string_view text) {
  if (text.size() > kIniMaxFile) text = text.substr(0, kIniMaxFile);
  IniDocument document;
  document.sections.push_back(IniSection{});
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    if (raw.size() > kIniMaxLine) raw = raw.substr(0, kIniMaxLine);
    // CR LF, a lone LF and a lone CR each end one line.
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    std::string_view name;
    if (IsSectionHeader(raw, name)) {
      document.sections.push_back(IniSection{std::string(name), {}});
      continue;
    }
    document.sections.back().lines.push_back(ParseLine(raw));
  }
  return document;
}

std::string FormatIni(const IniDocument& document) {
  std::string text;
  for (size_t i = 0; i < document.sections.size(); ++i) {
    const IniSection& s = document.sections[i];
    if (i > 0) text += "[" + s.name + "]\r\n";
    for (const IniLine& line : s.lines) {
      text += line.raw;
      text += "\r\n";
    }
  }
  return text;
}

const IniSection* FindSection(const IniDocument& document, std::string_view section) {
  for (size_t i = 1; i < document.sections.size(); ++i)
    if (EqualsNoCase(document.sections[i].name, section)) return &document.sections[i];
  return nullptr;
}

const std::string* FindValue(const IniDocument& document, std::string_view section, std::string_view key) {
  const IniSection* s = FindSection(document, section);
  if (!s) return nullptr;
  for (const IniLine& line : s->lines)
    if (line.isKey && EqualsNoCase(line.key, key)) return &line.value;
  return nullptr;
}

bool SetValue(IniDocument& document, std::string_view section, std::string_view key, std::string_view value) {
  key = Trim(key);
  if (key.empty() || key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';' ||
      HasLineBreak(key) || HasLineBreak(value) || HasLineBreak(section) || section.find(']') != std::string_view::npos)
    return false;
  if (document.sections.empty()) document.sections.push_back(IniSection{});
  IniSection* s = FindSectionMutable(document, section);
  if (!s || s == &document.sections[0]) {
    // A new section goes after a blank line, as the platform writes it.
    IniSection& last = document.sections.back();
    if (document.sections.size() > 1 && (last.lines.empty() || !Trim(last.lines.back().raw).empty()))
      last.lines.push_back(IniLine{});
    document.sections.push_back(IniSection{std::string(section), {}});
    s = &document.sections.back();
  }
  IniLine line;
  line.isKey = true;
  line.key.assign(key);
  line.value.assign(Trim(value));
  line.raw = line.key + "=" + std::string(value);
  for (IniLine& existing : s->lines) {
    if (existing.isKey && EqualsNoCase(existing.key, key)) {
      line.key = existing.key;  // keep the spelling already in the file
      line.raw = line.key + "=" + std::string(value);
      existing = std::move(line);
      return true;
    }
  }
  // Append after the last non-blank line of the section.
  size_t at = s->lines.size();
  while (at > 0 && !s->lines[at - 1].isKey && Trim(s->lines[at - 1].raw).empty()) --at;
  s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  return true;
}

bool RemoveKey(IniDocument& document, std::string_view section, std::string_view key) {
  IniSection* s = FindSectionMutable(document, section);
  if (!s) return false;
  for (size_t i = 0; i < s->lines.size(); ++i) {
    if (s->lines[i].isKey && EqualsNoCase(s->lines[i].key, key)) {
      s->lines.erase(s->lines.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

bool RemoveSection(IniDocument& document, std::string_view section) {
  for (size_t i = 1; i < document.sections.size(); ++i) {
    if (EqualsNoCase(document.sections[i].name, section)) {
      document.sections.erase(document.sections.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

bool ReplaceSectionKeys(IniDocument& document, std::string_view section,
                        const std::vector<std::pair<std::string, std::string>>& entries) {
  IniDocument changed = document;
  if (IniSection* s = FindSectionMutable(changed, section)) {
    size_t tail = s->lines.size();
    while (tail > 0 && !s->lines[tail - 1].isKey) --tail;
    s->lines.erase(s->lines.begin(), s->lines.begin() + static_cast<std::ptrdiff_t>(tail));
  }
  for (const auto& [key, value] : entries)
    if (!SetValue(changed, section, key, value)) return false;
  document = std::move(changed);
  return true;
}

std::mutex& IniFileMutex() {
  static std::mutex m;
  return m;
}

IniDocument LoadIniFile(const std::string& path) {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(IniFileMutex());
    ReadFileBounded(path, kIniMaxFile, text);
  }
  return ParseIni(text);
}

namespace {

// The gateway and the administrator's command line change the same file;
// each rewrite re-reads it first, so without a lock shared by both processes
// one of two overlapping rewrites would drop the other's keys. The lock lives
// on a file of its own beside the settings file because the rename of every
// write replaces the settings file itself. A lock file that cannot be opened
// (a read-only folder) leaves only the process mutex: the write then fails
// on its own.
class CrossProcessLock {
 public:
  explicit CrossProcessLock(const std::string& path)
      : fd_(::open(IniLockPath(path).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644)) {
    while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~CrossProcessLock() { CloseDescriptor(fd_); }
  CrossProcessLock(const CrossProcessLock&) = delete;
  CrossProcessLock& operator=(const CrossProcessLock&) = delete;

 private:
  int fd_;
};

template <typename Change>
bool ChangeFile(const std::string& path, Change change) {
  std::lock_guard<std::mutex> lock(IniFileMutex());
  CrossProcessLock fileLock(path);
  std::string text;
  ReadFileBounded(path, kIniMaxFile, text);
  IniDocument document = ParseIni(text);
  if (!change(document)) return false;
  return WriteFileAtomically(path, FormatIni(document));
}

}  // namespace

std::string IniLockPath(const std::string& path) { return path + ".lock"; }

bool SaveIniFile(const std::string& path, const IniDocument& document) {
  std::lock_guard<std::mutex> lock(IniFileMutex());
  CrossProcessLock fileLock(path);
  return WriteFileAtomically(path, FormatIni(document));
}

std::string IniReadString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback, size_t maxBytes) {
  IniDocument document = LoadIniFile(path);
  const std::string* value = FindValue(document, section, key);
  std::string result = value ? *value : std::string(fallback);
  if (result.size() > maxBytes) result.resize(maxBytes);
  return result;
}

bool IniWriteString(const std::string& path, std::string_view section, std::string_view key, std::string_view value) {
  return ChangeFile(path, [&](IniDocument& d) { return SetValue(d, section, key, value); });
}

bool IniChangeFile(const std::string& path, const std::function<bool(IniDocument&)>& change) {
  return ChangeFile(path, change);
}

bool IniDeleteKey(const std::string& path, std::string_view section, std::string_view key) {
  return ChangeFile(path, [&](IniDocument& d) { return RemoveKey(d, section, key); });
}

bool IniStorable(std::string_view text, bool key) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == ';' || (key && (c == '=' || c == '[' || c == ']'))) return false;
  }
  return true;
}

bool IniReplaceSection(const std::string& path, std::string_view section,
                       const std::vector<std::pair<std::string, std::string>>& entries) {
  return ChangeFile(path, [&](IniDocument& d) { return ReplaceSectionKeys(d, section, entries); });
}

std::vector<IniLine> SectionEntries(const IniDocument& document, std::string_view section) {
  std::vector<IniLine> entries;
  const IniSection* s = FindSection(document, section);
  if (!s) return entries;
  for (const IniLine& line : s->lines) {
    if (Trim(line.raw).empty() || Trim(line.raw).front() == ';') continue;
    if (!line.isKey) break;
    entries.push_back(line);
  }
  return entries;
}

std::vector<IniLine> IniReadSection(const std::string& path, std::string_view section) {
  return SectionEntries(LoadIniFile(path), section);
}

}  // namespace brindlex
