#include "core/display_forms.h"

#include <cstdio>
#include <mutex>

#include "core/accounting.h"
#include "core/chars.h"
#include "core/clock.h"
#include "core/process_state.h"
#include "core/users.h"
#include "core/value_codec.h"

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
  if (bytes != kNoValue && corrected) bytes = CorrectedTraffic(bytes);
  return FormatTrafficIn(bytes, unit, BytesPerMb());
}

std::string FormatTrafficIn(std::int64_t bytes, TrafficUnit unit, std::int64_t bytesPerMb) {
  if (bytes == kNoValue) return "";
  const double mb = static_cast<double>(bytesPerMb);
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

std::string FormatMoney(std::int64_t scaled) { return FormatMoneyIn(scaled, BytesPerMb()); }

std::string FormatMoneyIn(std::int64_t scaled, std::int64_t bytesPerMb) {
  if (scaled == kNoValue) return "";
  return FormatNumberText(static_cast<double>(scaled) / (static_cast<double>(bytesPerMb) * 1000.0));
}

std::string FormatShortDate(std::int64_t localSeconds) {
  std::tm tm = LocalTm(localSeconds);
  char text[32];
  std::snprintf(text, sizeof(text), "%02d.%02d.%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
  return text;
}

std::string FormatTimeOfDay(std::int64_t localSeconds) {
  std::tm tm = LocalTm(localSeconds);
  char text[32];
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::string FormatDateAndTime(std::int64_t localSeconds) {
  return FormatShortDate(localSeconds) + " " + FormatTimeOfDay(localSeconds);
}

namespace {

// The number of `digits` digits (exactly) at text[pos], then the separator
// `after` unless it is 0.
bool ReadPart(std::string_view text, size_t& pos, int digits, char after, int& value) {
  value = 0;
  for (int i = 0; i < digits; ++i, ++pos) {
    if (pos >= text.size() || !IsDigit(text[pos])) return false;
    value = value * 10 + (text[pos] - '0');
  }
  if (after == 0) return true;
  return pos < text.size() && text[pos++] == after;
}

}  // namespace

bool ParseDateAndTime(std::string_view text, std::int64_t& localSeconds, bool& hasTime) {
  text = Trim(text);
  size_t pos = 0;
  int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (!ReadPart(text, pos, 2, '.', day) || !ReadPart(text, pos, 2, '.', month) || !ReadPart(text, pos, 4, 0, year))
    return false;
  hasTime = pos < text.size();
  if (hasTime && (text[pos++] != ' ' || !ReadPart(text, pos, 2, ':', hour) || !ReadPart(text, pos, 2, ':', minute) ||
                  !ReadPart(text, pos, 2, 0, second)))
    return false;
  if (pos != text.size() || year < 1 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
    return false;
  localSeconds = LocalSeconds(year, month, day, hour, minute, second);
  std::tm check = LocalTm(localSeconds);
  return check.tm_mday == day;  // 31 February and the like
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
