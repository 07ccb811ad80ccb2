#include "core/display_forms.h"

#include <cstdio>
#include <mutex>

#include "core/accounting.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/users.h"

namespace brindlex {

std::string FormatSeconds(std::int64_t seconds) {
  if (seconds == kNoValue) return "";
  if (seconds < 0) return std::to_string(seconds);
  char text[48];
  std::snprintf(text, sizeof(text), "%lld:%.2lld:%.2lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

std::string FormatMilliseconds(std::int64_t milliseconds) {
  if (milliseconds == kNoValue) return "";
  return FormatSeconds(milliseconds / 1000);
}

std::string FormatTraffic(std::int64_t bytes, TrafficUnit unit, bool corrected) {
  if (bytes == kNoValue) return "";
  if (corrected) bytes = CorrectedTraffic(bytes);
  const double mb = static_cast<double>(BytesPerMb());
  switch (unit) {
    case TrafficUnit::KbAndMb:
      return std::to_string(bytes / 1024) + " (" + FormatNumberText(static_cast<double>(bytes) / mb) + ")";
    case TrafficUnit::Bytes:
      return std::to_string(bytes);
    case TrafficUnit::Kb:
      return std::to_string(bytes / 1024);
    case TrafficUnit::Mb:
      return FormatNumberText(static_cast<double>(bytes) / mb);
  }
  return "";
}

std::string FormatMoney(std::int64_t scaled) {
  if (scaled == kNoValue) return "";
  return FormatNumberText(static_cast<double>(scaled) / (static_cast<double>(Settings()->KbPerMb) * 1024000.0));
}

std::string FormatCounterBlock(const CounterBlock& block) {
  return "time " + FormatMilliseconds(block.timeMs) + ", out " + FormatTraffic(block.outgoing) + ", in " +
         FormatTraffic(block.incoming) + ", money " + FormatMoney(block.money) + ", national " +
         FormatMoney(block.nationalMoney);
}

std::string UserFiguresReport() {
  std::string report;
  std::lock_guard<std::mutex> lock(AccountsLock());
  for (const auto& user : Users()) {
    if (user->deleted) continue;
    report += user->login + ": day " + FormatCounterBlock(user->dayCounters) + "; month " +
              FormatCounterBlock(user->monthCounters) + "\n";
  }
  return report;
}

}  // namespace brindlex
