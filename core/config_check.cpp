#include "core/config_check.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "core/account_source.h"
#include "core/chars.h"
#include "core/file_io.h"
#include "core/groups.h"
#include "core/ini_file.h"
#include "core/own_address.h"
#include "core/schedule.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/strings.h"
#include "core/users.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

constexpr std::string_view kSystem = "System";

using KeyLine = ConfigKeyLine;

// A numbered text with what it names filled in.
std::string Text(int id, const std::string& what) {
  char text[1024];
  std::snprintf(text, sizeof(text), Str(id).c_str(), what.c_str());
  return text;
}

std::string FieldCountText(size_t found, size_t wanted) {
  char text[256];
  std::snprintf(text, sizeof(text), Str(1209).c_str(), static_cast<long>(found), static_cast<long>(wanted));
  return text;
}

class Checker {
 public:
  void Add(const KeyLine& at, std::string message) {
    problems_.push_back({at.line, at.section, at.key, std::move(message)});
  }
  void Add(ConfigProblem problem) { problems_.push_back(std::move(problem)); }
  std::vector<ConfigProblem> Take() { return std::move(problems_); }

 private:
  std::vector<ConfigProblem> problems_;
};

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

bool IsPort(std::string_view text, bool zeroAllowed) {
  std::int64_t value = 0;
  return ParseWholeInt(Trim(text), value) && value >= (zeroAllowed ? 0 : 1) && value <= 65535;
}

void CheckHttpPorts(std::string_view text, std::vector<std::string>& problems) {
  int ports = 0;
  for (std::string_view field : Split(text, ';')) {
    if (Trim(field).empty()) continue;
    if (!IsPort(field, true)) {
      problems.push_back(Text(1204, std::string(Trim(field))));
      continue;
    }
    std::int64_t value = 0;
    ParseWholeInt(Trim(field), value);
    if (value == 0) break;  // the list ends at the first 0
    if (++ports == 11) problems.push_back(Str(1205));
  }
}

// Each item an address, and none the gateway's own: the forwarder would
// send its queries to itself (it skips such items).
void CheckDnsServers(std::string_view text, std::vector<std::string>& problems) {
  const std::vector<Ipv4> interfaces = InterfaceAddresses();
  for (const std::string& entry : SplitList(text)) {
    std::string_view item = Trim(entry);
    if (item.empty()) continue;
    Ipv4 address = 0;
    if (!ParseDottedQuad(item, address))
      problems.push_back(Text(1212, std::string(item)));
    else if (IsOwnAddress(address, interfaces))
      problems.push_back(Text(1248, std::string(item)));
  }
}

void CheckSystemKey(const KeyLine& at, Checker& checker) {
  for (std::string& message : CheckSystemValue(at.key, at.value)) checker.Add(at, std::move(message));
}

size_t FieldCount(std::string_view record) {
  return static_cast<size_t>(std::count(record.begin(), record.end(), ';')) + 1;
}

bool AnyHourInBoth(const Schedule& a, const Schedule& b) {
  for (size_t hour = 0; hour < a.size(); ++hour)
    if (a[hour] && b[hour]) return true;
  return false;
}

// How many of the left-out records are named by their login or name.
constexpr size_t kLeftOutNamed = 5;

// The accounts tables hold kMaxUsers users and kMaxGroups groups, taken in
// file order (LoadUsers, LoadGroups), and skip the rest without a word; the
// check names what they skip, at the line of the first record left out.
void AddLeftOut(const std::vector<std::pair<const KeyLine*, std::string>>& leftOut, int textId, size_t capacity,
                Checker& checker) {
  if (leftOut.empty()) return;
  std::string names;
  for (size_t i = 0; i < leftOut.size() && i < kLeftOutNamed; ++i) names += (i > 0 ? ", " : "") + leftOut[i].second;
  char text[1024];
  if (leftOut.size() > kLeftOutNamed) {
    std::snprintf(text, sizeof(text), Str(1219).c_str(), names.c_str(),
                  static_cast<long>(leftOut.size() - kLeftOutNamed));
    names = text;
  }
  std::snprintf(text, sizeof(text), Str(textId).c_str(), static_cast<long>(capacity), static_cast<long>(leftOut.size()),
                names.c_str());
  checker.Add(*leftOut.front().first, text);
}

}  // namespace

std::vector<std::string> CheckSystemValue(std::string_view keyText, std::string_view valueText) {
  std::vector<std::string> problems;
  const std::string value(Trim(valueText));
  const std::string key = LowerCase(Trim(keyText));
  const SettingInfo* setting = FindSetting(key);
  if (!setting && key != "curidcach" && key != "curidticket") {
    problems.push_back(Str(1206));
    return problems;
  }
  if (key == "httpport") {
    CheckHttpPorts(value, problems);
  } else if (key == "ftpport" || key == "smtpport" || key == "pop3port" || key == "socks5port" ||
             key == "cascadeport" || key == "spamport" || key == "adminport") {
    if (!IsPort(value, key == "cascadeport" || key == "adminport")) problems.push_back(Text(1204, value));
  } else if (key == "headtimeout") {
    std::int64_t seconds = 0;
    if (!ParseWholeInt(value, seconds) || seconds < 0 || seconds > INT32_MAX) problems.push_back(Text(1216, value));
  } else if (setting && setting->kind == SettingKind::Real && !value.empty()) {
    double real = ParseRealPrefix(value);
    if (real != ClampRealSetting(real)) problems.push_back(Text(1239, value));
  } else if (key == "usersaddrs" || key == "ininterface") {
    for (const std::string& entry : SplitList(value)) {
      std::string_view item = Trim(entry);
      if (item.empty()) continue;
      Ipv4 address = 0;
      bool understood = key == "usersaddrs" ? ParseAddressRange(item).has_value() : ParseDottedQuad(item, address);
      if (!understood) problems.push_back(Text(key == "usersaddrs" ? 1208 : 1212, std::string(item)));
    }
  } else if (key == "dnsserver") {
    CheckDnsServers(value, problems);
  } else if (key == "metricsaddress") {
    Ipv4 address = 0;
    int port = 0;
    if (!value.empty() && !ParseAddressAndPort(value, address, port)) problems.push_back(Text(1259, value));
  }
  return problems;
}

bool ParseAddressAndPort(std::string_view text, std::uint32_t& address, int& port) {
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view host = text.substr(0, colon);
  std::string_view digits = text.substr(colon + 1);
  // Whole digits only: "+80" or " 80" is not how a port is written here.
  if (digits.empty() || digits.size() > 5 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  std::int64_t value = 0;
  if (!ParseWholeInt(digits, value) || value < 1 || value > 65535) return false;
  Ipv4 parsed = kNoAddress;
  if (host.find_first_not_of("0123456789.") != std::string_view::npos || !ParseDottedQuad(host, parsed))
    return false;
  address = parsed;
  port = static_cast<int>(value);
  return true;
}

std::vector<ConfigKeyLine> ReadConfigKeyLines(std::string_view text, std::vector<ConfigProblem>& sectionProblems) {
  std::vector<ConfigKeyLine> lines;
  std::string section;
  int number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    std::string_view line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      if (close == std::string_view::npos) {
        // A section line is named by its text: it has no name that could be read.
        sectionProblems.push_back({number, std::string(line.substr(0, 200)), "", Str(1207)});
        continue;
      }
      section = std::string(Trim(line.substr(1, close - 1)));
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    lines.push_back(
        {number, section, std::string(Trim(line.substr(0, equals))), std::string(Trim(line.substr(equals + 1)))});
  }
  return lines;
}

std::vector<ConfigProblem> CheckConfiguration(std::string_view text) {
  Checker checker;
  std::vector<ConfigProblem> sectionProblems;
  const std::vector<KeyLine> lines = ReadConfigKeyLines(text, sectionProblems);
  for (ConfigProblem& problem : sectionProblems) checker.Add(std::move(problem));

  // The reader takes the first of equal keys: a second one is a mistake.
  std::set<std::pair<std::string, std::string>> seen;
  const size_t userFields = FieldCount(FormatUserRecord(UserRecord{}));
  const size_t groupFields = FieldCount(FormatGroupRecord(GroupRecord{}));
  std::map<std::uint32_t, Schedule> groupSchedules;
  std::vector<const KeyLine*> users;
  // Groups as the table takes them: distinct numbers, each with its name.
  std::vector<std::pair<const KeyLine*, std::string>> groups;
  bool defaultGroupTaken = false;
  for (const KeyLine& at : lines) {
    std::string sectionKey = LowerCase(at.section);
    if (!seen.insert({sectionKey, LowerCase(at.key)}).second) {
      checker.Add(at, Str(1213));
      continue;
    }
    if (sectionKey == LowerCase(kSystem)) {
      CheckSystemKey(at, checker);
    } else if (sectionKey == LowerCase(kGroupsSection)) {
      if (FieldCount(at.value) != groupFields) checker.Add(at, FieldCountText(FieldCount(at.value), groupFields));
      GroupRecord group;
      ParseGroupRecord(at.value, group);
      std::uint32_t number = 0;
      if (GroupNumberFromKey(at.key, number) && groupSchedules.emplace(number, group.schedule).second) {
        groups.emplace_back(&at, group.name.empty() ? at.key : group.name);
        if (number == 0 && groups.size() <= kMaxGroups) defaultGroupTaken = true;
      }
    } else if (sectionKey == LowerCase(kUsersSection)) {
      users.push_back(&at);
    }
  }
  // Without a group 0 among those taken, the last place goes to the
  // "Default" group the loader makes.
  size_t groupPlaces = defaultGroupTaken ? kMaxGroups : kMaxGroups - 1;
  if (groups.size() > groupPlaces)
    AddLeftOut({groups.begin() + static_cast<std::ptrdiff_t>(groupPlaces), groups.end()}, 1218, kMaxGroups, checker);
  std::vector<std::pair<const KeyLine*, std::string>> usersLeftOut;
  for (size_t i = kMaxUsers; i < users.size(); ++i) usersLeftOut.emplace_back(users[i], users[i]->key);
  AddLeftOut(usersLeftOut, 1217, kMaxUsers, checker);
  // Users last: their group may stand anywhere in the file.
  for (const KeyLine* at : users) {
    if (FieldCount(at->value) != userFields) checker.Add(*at, FieldCountText(FieldCount(at->value), userFields));
    UserRecord user;
    user.login = at->key;
    ParseUserRecord(at->value, user);
    if (!user.byAddress && user.password.empty()) checker.Add(*at, Str(1210));
    auto group = groupSchedules.find(user.groupNumber);
    Schedule groupSchedule = group != groupSchedules.end() ? group->second : FullSchedule();
    if (!user.disabled && !AnyHourInBoth(user.schedule, groupSchedule)) checker.Add(*at, Str(1211));
  }
  std::vector<ConfigProblem> problems = checker.Take();
  std::stable_sort(problems.begin(), problems.end(),
                   [](const ConfigProblem& a, const ConfigProblem& b) { return a.line < b.line; });
  return problems;
}

std::string FormatConfigProblem(std::string_view fileName, const ConfigProblem& problem) {
  std::string text = std::string(fileName) + ":" + std::to_string(problem.line) + ": ";
  if (problem.key.empty()) return text + problem.section + ": " + problem.message;
  return text + "[" + problem.section + "] " + problem.key + ": " + problem.message;
}

}  // namespace brindlex
