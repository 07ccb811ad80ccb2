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

std::optional<AddressRange> ParseAddressRange(std::string_view text) {
  AddressRange range;
  size_t dash = text.find('-');
  if (dash != std::string_view::npos) {
    if (!ParseDottedQuad(text.substr(0, dash), range.first) || !ParseDottedQuad(text.substr(dash + 1), range.last))
      return std::nullopt;
    return range;
  }
  size_t slash = text.find('/');
  Ipv4 address = 0;
  if (!ParseDottedQuad(text.substr(0, slash), address)) return std::nullopt;
  if (slash == std::string_view::npos) return AddressRange{address, address};
  std::int64_t bits = 0;
  if (!ParseWholeInt(text.substr(slash + 1), bits) || bits < 0 || bits > 32) return std::nullopt;
  Ipv4 hostMask = bits == 0 ? 0xFFFFFFFFu : (Ipv4{1} << (32 - bits)) - 1;
  return AddressRange{address & ~hostMask, address | hostMask};
}

bool AddressInRange(const std::string& range, Ipv4 address) {
  std::optional<AddressRange> parsed = ParseAddressRange(range);
  return parsed && parsed->first <= address && address <= parsed->last;
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

bool AddressesAdmitted(const SystemSettings& settings, Ipv4 clientAddress, Ipv4 localAddress) {
  return AddressListAdmits(settings.UsersAddrs, clientAddress) && InterfaceAdmits(settings.InInterface, localAddress);
}

bool AdmitLocked(Ipv4 clientAddress, Ipv4 localAddress, SessionRecord*& session) {
  session = nullptr;
  if (!AddressesAdmitted(*Settings(), clientAddress, localAddress)) return false;
  return AdmitSessionLocked(clientAddress, session);
}

bool AdmitSessionLocked(Ipv4 clientAddress, SessionRecord*& session) {
  session = FindOrCreateSessionLocked(clientAddress);
  if (session->idle < 0) return false;
  session->idle = 0;
  return true;
}

}  // namespace brindlex
