#include "core/refusal_monitor.h"

#include <cstdio>
#include <mutex>
#include <optional>
#include <utility>

#include "core/log_files.h"
#include "core/monitor.h"
#include "core/service_counters.h"
#include "core/strings.h"

namespace brindlex {

namespace {

constexpr int kFailedLoginSummary = 1220;
constexpr int kRefusalsNotShown = 1221;
constexpr int kAddressRefusedSummary = 1222;
constexpr int kAddressLimitSummary = 1223;

int SummaryMessage(RepeatedRefusal kind) {
  switch (kind) {
    case RepeatedRefusal::kFailedLogin:
      return kFailedLoginSummary;
    case RepeatedRefusal::kAddressRefused:
      return kAddressRefusedSummary;
    case RepeatedRefusal::kAddressLimit:
      return kAddressLimitSummary;
  }
  return kAddressRefusedSummary;
}

std::string SummaryLine(RepeatedRefusal kind, Ipv4 client, int failures) {
  char text[512];
  std::snprintf(text, sizeof(text), StrC(SummaryMessage(kind)), FormatIpv4(client).c_str(),
                std::to_string(failures).c_str());
  return text;
}

// The kind of a refusal that comes again and again, if it is one.
std::optional<RepeatedRefusal> RepeatedKind(const Refusal& refusal) {
  if (refusal.failedLogin) return RepeatedRefusal::kFailedLogin;
  if (refusal.addressRefused) return RepeatedRefusal::kAddressRefused;
  if (refusal.addressLimit) return RepeatedRefusal::kAddressLimit;
  return std::nullopt;
}

struct RefusalQueue {
  std::mutex mutex;
  std::vector<Refusal> refusals;  // guarded by mutex
  std::int64_t notQueued = 0;     // guarded by mutex: refusals past kMaxQueuedRefusals
  RefusalLimiter limiter;         // main thread only
};

RefusalQueue& Queue() {
  static RefusalQueue queue;
  return queue;
}

}  // namespace

std::string RefusalLine(const Refusal& refusal) {
  return "REFUSED, " + FormatIpv4(refusal.client) + ", " + EscapeField(refusal.login) + ", " +
         std::to_string(refusal.message) + ", " + EscapeField(MaskUrlPassword(refusal.url), true);
}

void RefusalLimiter::Refused(RepeatedRefusal kind, Ipv4 client, std::int64_t now, const std::string& line,
                             std::vector<std::string>& out) {
  const auto key = std::make_pair(kind, client);
  auto it = minutes_.find(key);
  if (it != minutes_.end() && now - it->second.start >= kMinute) {
    if (it->second.failures > 1) out.push_back(SummaryLine(kind, client, it->second.failures));
    minutes_.erase(it);
    it = minutes_.end();
  }
  if (it == minutes_.end()) {
    if (minutes_.size() >= kMaxAddresses) {
      ++untracked_;
      return;
    }
    minutes_.emplace(key, Minute{now, 1});
    out.push_back(line);
  } else {
    ++it->second.failures;
  }
}

void RefusalLimiter::Expire(std::int64_t now, std::vector<std::string>& out) {
  for (auto it = minutes_.begin(); it != minutes_.end();) {
    if (now - it->second.start < kMinute) {
      ++it;
      continue;
    }
    if (it->second.failures > 1) out.push_back(SummaryLine(it->first.first, it->first.second, it->second.failures));
    it = minutes_.erase(it);
  }
}

std::int64_t RefusalLimiter::TakeUntracked() { return std::exchange(untracked_, 0); }

void ReportAddressRefused(std::uint8_t service, Ipv4 client) {
  Refusal refusal;
  refusal.service = service;
  refusal.client = client;
  refusal.addressRefused = true;
  ReportRefusal(std::move(refusal));
}

void ReportAddressLimit(std::uint8_t service, Ipv4 client) {
  Refusal refusal;
  refusal.service = service;
  refusal.client = client;
  refusal.message = kAddressLimitMessage;
  refusal.addressLimit = true;
  ReportRefusal(std::move(refusal));
}

void ReportDnsAddressRefused(Ipv4 client) {
  Refusal refusal;
  refusal.client = client;
  refusal.addressRefused = true;
  refusal.dns = true;
  ReportRefusal(std::move(refusal));
}

void ReportAdminRefused(Ipv4 client, std::string who) {
  Refusal refusal;
  refusal.client = client;
  refusal.login = std::move(who);
  refusal.url = "admin";
  refusal.admin = true;
  ReportRefusal(std::move(refusal));
}

void ReportRefusal(Refusal refusal) {
  CountUp(refusal.dns ? Counters().dnsRefused : ServiceCountersOf(refusal.service).refused);
  RefusalQueue& queue = Queue();
  std::lock_guard<std::mutex> lock(queue.mutex);
  if (queue.refusals.size() >= kMaxQueuedRefusals) {
    ++queue.notQueued;
    return;
  }
  queue.refusals.push_back(std::move(refusal));
}

std::vector<std::string> TakeRefusalLines(std::vector<int>* switches) {
  RefusalQueue& queue = Queue();
  std::vector<Refusal> refusals;
  std::int64_t notQueued = 0;
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    refusals.swap(queue.refusals);
    std::swap(notQueued, queue.notQueued);
  }
  std::int64_t now = ProgramClock().PerformanceCounter();
  std::vector<std::string> lines;
  const auto tag = [&](std::size_t from, const std::string& own, int monitorSwitch) {
    if (!switches) return;
    for (std::size_t i = from; i < lines.size(); ++i)
      switches->push_back(lines[i] == own ? monitorSwitch : kMonitorAlways);
  };
  if (switches) switches->clear();
  for (const Refusal& refusal : refusals) {
    const int monitorSwitch = refusal.dns ? kMonitorDns : MonitorSwitchOf(refusal.service);
    if (!refusal.admin && !MonitorShows(monitorSwitch)) continue;
    const std::size_t from = lines.size();
    std::string line = RefusalLine(refusal);
    if (std::optional<RepeatedRefusal> kind = RepeatedKind(refusal)) {
      queue.limiter.Refused(*kind, refusal.client, now, line, lines);
    } else {
      lines.push_back(line);
    }
    tag(from, line, refusal.admin ? kMonitorAlways : monitorSwitch);
  }
  const std::size_t summaries = lines.size();
  queue.limiter.Expire(now, lines);
  notQueued += queue.limiter.TakeUntracked();
  if (notQueued > 0) {
    char text[256];
    std::snprintf(text, sizeof(text), StrC(kRefusalsNotShown), std::to_string(notQueued).c_str());
    lines.emplace_back(text);
  }
  tag(summaries, {}, kMonitorAlways);
  return lines;
}

}  // namespace brindlex
