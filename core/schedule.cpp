#include "core/schedule.h"

#include "core/chars.h"

namespace brindlex {

namespace {

// Reads the digits at `pos`. Returns false when there are none. Long numbers
// saturate: they are out of range anyway.
bool ReadNumber(std::string_view text, size_t& pos, long& value) {
  size_t start = pos;
  value = 0;
  while (pos < text.size() && IsDigit(text[pos])) {
    if (value < 1000) value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  return pos > start;
}

void SkipToSlash(std::string_view text, size_t& pos) {
  size_t slash = text.find('/', pos);
  pos = slash == std::string_view::npos ? text.size() : slash;
}

}  // namespace

Schedule FullSchedule() {
  Schedule schedule;
  schedule.fill(1);
  return schedule;
}

Schedule ParseSchedule(std::string_view text) {
  Schedule schedule{};
  int day = 0;
  size_t pos = 0;
  while (day < kScheduleDays && pos < text.size()) {
    if (text[pos] == '/') {
      ++day;
      ++pos;
      continue;
    }
    long first = 0;
    if (!ReadNumber(text, pos, first) || first == 0) {
      SkipToSlash(text, pos);
      continue;
    }
    long last = first;
    if (pos < text.size() && text[pos] == '-') {
      ++pos;
      if (!ReadNumber(text, pos, last) || last == 0) {
        SkipToSlash(text, pos);
        continue;
      }
    }
    for (long hour = first; hour <= last && hour <= kScheduleHoursPerDay; ++hour)
      schedule[static_cast<size_t>(day * kScheduleHoursPerDay + hour - 1)] = 1;
    if (pos >= text.size()) break;
    if (text[pos] == ',') {
      ++pos;
    } else if (text[pos] != '/') {
      break;  // anything else after a run ends the text
    }
  }
  return schedule;
}

std::string FormatSchedule(const Schedule& schedule) {
  std::string text;
  for (int day = 0; day < kScheduleDays; ++day) {
    const std::uint8_t* hours = schedule.data() + day * kScheduleHoursPerDay;
    bool firstRun = true;
    int hour = 0;
    while (hour < kScheduleHoursPerDay) {
      if (!hours[hour]) {
        ++hour;
        continue;
      }
      int end = hour;
      while (end + 1 < kScheduleHoursPerDay && hours[end + 1]) ++end;
      if (!firstRun) text += ',';
      firstRun = false;
      text += std::to_string(hour + 1);
      if (end > hour) text += '-' + std::to_string(end + 1);
      hour = end + 1;
    }
    text += '/';
  }
  return text;
}

bool ScheduleAllows(const Schedule& schedule, int day, int hour) {
  if (day < 0 || day >= kScheduleDays || hour < 0 || hour >= kScheduleHoursPerDay) return false;
  return schedule[static_cast<size_t>(day * kScheduleHoursPerDay + hour)] != 0;
}

}  // namespace brindlex
