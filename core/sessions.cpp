#include "core/sessions.h"

#include "core/settings.h"

namespace brindlex {

std::vector<std::unique_ptr<SessionRecord>>& SessionListLocked() {
  static std::vector<std::unique_ptr<SessionRecord>> list;
  return list;
}

SessionRecord* FindOrCreateSessionLocked(Ipv4 address) {
  auto& list = SessionListLocked();
  for (auto& session : list) {
    if (session->address == address) {
      ++session->openConnections;
      return session.get();
    }
  }
  list.push_back(std::make_unique<SessionRecord>());
  SessionRecord* session = list.back().get();
  session->address = address;
  session->openConnections = 1;
  return session;
}

bool AddressInRange(const std::string& range, Ipv4 address) {
  size_t dash = range.find('-');
  if (dash == std::string::npos) return false;
  Ipv4 first = 0, last = 0;
  if (!ParseDottedQuad(std::string_view(range).substr(0, dash), first) ||
      !ParseDottedQuad(std::string_view(range).substr(dash + 1), last))
    return false;
  return first <= address && address <= last;
}

bool AddressListAdmits(const std::vector<std::string>& ranges, Ipv4 address) {
  if (ranges.empty()) return true;
  for (const auto& range : ranges)
    if (AddressInRange(range, address)) return true;
  return false;
}

bool InterfaceAdmits(const std::vector<std::string>& interfaces, Ipv4 localAddress) {
  if (interfaces.empty()) return true;
  for (const auto& item : interfaces) {
    Ipv4 address = 0;
    if (ParseDottedQuad(item, address) && address == localAddress) return true;
  }
  return false;
}

bool AdmitLocked(Ipv4 clientAddress, Ipv4 localAddress, SessionRecord*& session) {
  session = nullptr;
  const auto snapshot = Settings();
  const SystemSettings& settings = *snapshot;
  if (!AddressListAdmits(settings.UsersAddrs, clientAddress)) return false;
  if (!InterfaceAdmits(settings.InInterface, localAddress)) return false;
  session = FindOrCreateSessionLocked(clientAddress);
  if (session->idle < 0) return false;
  session->idle = 0;
  return true;
}

}  // namespace brindlex
