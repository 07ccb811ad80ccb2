#include "core/port_map_rules.h"

#include <mutex>

#include "core/clock.h"
#include "core/connection.h"
#include "core/file_io.h"
#include "core/sessions.h"

namespace brindlex {

namespace {

std::mutex& RulesLock() {
  static std::mutex lock;
  return lock;
}

std::vector<PortMapRule>& RulesLocked() {
  static std::vector<PortMapRule> rules;
  return rules;
}

bool ListensAlike(const PortMapRule& a, const PortMapRule& b) {
  return a.protocol == b.protocol && a.listenPort == b.listenPort && (a.IsUdp() || a.listenAddress == b.listenAddress);
}

}  // namespace

PortMapSocket::~PortMapSocket() { CloseDescriptor(fd_); }

bool SourceAdmits(const PortMapRule& rule, Ipv4 client, const std::vector<std::string>& usersAddrs) {
  switch (rule.sourceKind) {
    case kSourceUsersAddrs:
      return AddressListAdmits(usersAddrs, client);
    case kSourceRange:
      return rule.sourceFrom <= client && client <= rule.sourceTo;
    default:
      return true;
  }
}

std::vector<PortMapRule> PortMapRules() {
  std::lock_guard<std::mutex> lock(RulesLock());
  return RulesLocked();
}

void ReplacePortMapRules(std::vector<PortMapRule> rules) {
  std::vector<PortMapRule> old;
  {
    std::lock_guard<std::mutex> lock(RulesLock());
    old.swap(RulesLocked());
    RulesLocked() = std::move(rules);
  }
  // `old` lets its sockets go here, outside the lock.
}

void ChangePortMapRules(const std::function<void(std::vector<PortMapRule>&)>& change) {
  std::lock_guard<std::mutex> lock(RulesLock());
  change(RulesLocked());
}

void CarryOverSockets(const std::vector<PortMapRule>& current, std::vector<PortMapRule>& fresh) {
  for (PortMapRule& rule : fresh) {
    if (rule.disabled || rule.socket) continue;
    for (const PortMapRule& before : current) {
      if (before.socket && !before.disabled && EqualsNoCase(before.name, rule.name) && ListensAlike(before, rule)) {
        rule.socket = before.socket;
        break;
      }
    }
  }
}

bool ConversationIdleLocked(const ConnectionRecord& record, std::int64_t now) {
  return record.clientDatagrams.empty() &&
         now - record.lastDatagramCounter.load() > kConversationIdleMs * (kPerformanceFrequency / 1000);
}

}  // namespace brindlex
