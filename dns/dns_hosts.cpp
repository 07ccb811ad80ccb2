#include "dns/dns_hosts.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "core/chars.h"
#include "core/file_io.h"
#include "dns/dns_message.h"

namespace brindlex {

namespace {

bool EndsWord(char c) { return IsBlank(c) || c == '\r'; }

std::string_view Word(std::string_view line, std::size_t& at) {
  std::size_t start = at;
  while (at < line.size() && !EndsWord(line[at])) ++at;
  return line.substr(start, at - start);
}

}  // namespace

bool ReadHostsLine(std::string_view line, HostsEntry& entry) {
  std::size_t at = SkipBlanks(line, 0);
  if (at >= line.size() || line[at] == '#' || line[at] == '\r') return false;
  Ipv4 address = kNoAddress;
  if (!ParseDottedQuad(Word(line, at), address) || address == 0) return false;
  at = SkipBlanks(line, at);
  std::string_view name = Word(line, at);
  if (name.empty()) return false;
  entry.address = address;
  entry.name = name;
  return true;
}

bool NamesHost(std::string_view question, std::string_view host, std::string_view domainSuffix) {
  if (EqualsNoCase(question, host)) return true;
  return !domainSuffix.empty() && question.size() == host.size() + 1 + domainSuffix.size() &&
         StartsWithNoCase(question, host) && question[host.size()] == '.' &&
         EqualsNoCase(question.substr(host.size() + 1), domainSuffix);
}

std::optional<HostsAnswer> MatchHostsEntry(const HostsEntry& entry, std::string_view question, std::uint16_t type,
                                           std::string_view domainSuffix) {
  if (type == kDnsTypeA) {
    if (NamesHost(question, entry.name, domainSuffix)) return HostsAnswer{entry.address, std::string(entry.name)};
  } else if (type == kDnsTypePtr && EqualsNoCase(ReverseDnsName(entry.address), question)) {
    std::string name(entry.name);
    if (!domainSuffix.empty()) name += "." + std::string(domainSuffix);
    return HostsAnswer{entry.address, name};
  }
  return std::nullopt;
}

std::optional<HostsAnswer> LookUpHostsFile(const std::string& path, std::string_view question, std::uint16_t type,
                                           std::string_view domainSuffix) {
  struct File {
    int fd;
    ~File() { CloseDescriptor(fd); }
  } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return std::nullopt;
  std::unique_ptr<char[]> buffer(new char[kHostsBufferSize]);
  std::size_t held = 0;  // bytes of the lines not yet read, at the start
  bool ended = false;
  while (!ended) {
    ssize_t n = ::read(file.fd, buffer.get() + held, kHostsBufferSize - held);
    if (n < 0) return std::nullopt;
    ended = n == 0;
    held += static_cast<std::size_t>(n);
    std::string_view text(buffer.get(), held);
    std::size_t start = 0;
    for (;;) {
      std::size_t end = text.find('\n', start);
      // The last line of the file needs no LF.
      if (end == std::string_view::npos && !(ended && start < text.size())) break;
      if (end == std::string_view::npos) end = text.size();
      HostsEntry entry;
      if (ReadHostsLine(text.substr(start, end - start), entry))
        if (auto answer = MatchHostsEntry(entry, question, type, domainSuffix)) return answer;
      start = end + 1;
    }
    if (start >= text.size()) {
      held = 0;
    } else {
      if (start == 0 && held == kHostsBufferSize) return std::nullopt;  // a line that does not fit
      held -= start;
      std::copy(buffer.get() + start, buffer.get() + start + held, buffer.get());
    }
  }
  return std::nullopt;
}

}  // namespace brindlex
