#include "core/log_files.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "core/chars.h"
#include "core/clock.h"
#include "core/connection.h"
#include "core/log_writer.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/users.h"

namespace brindlex {

namespace {

std::string DatedName(std::int64_t localSeconds, const char* extension) {
  std::tm tm = LocalTm(localSeconds);
  char name[64];
  std::snprintf(name, sizeof(name), "%02d-%02d-%02d-Brindlex.%s", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100,
                extension);
  return name;
}

}  // namespace

std::string EscapeField(std::string_view text, bool restOfLine) {
  std::string field;
  field.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if ((c == ',' && !restOfLine) || c == '%' || byte < 0x20 || byte == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      field += '%';
      field += kHex[byte >> 4];
      field += kHex[byte & 0x0F];
    } else {
      field += c;
    }
  }
  return field;
}

std::string_view UnescapeField(std::string_view field, std::string& storage) {
  if (field.find('%') == std::string_view::npos) return field;
  storage.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    int high = i + 2 < field.size() && field[i] == '%' ? HexValue(field[i + 1]) : -1;
    int low = high >= 0 ? HexValue(field[i + 2]) : -1;
    if (low >= 0) {
      storage += static_cast<char>(high << 4 | low);
      i += 2;
    } else {
      storage += field[i];
    }
  }
  return storage;
}

std::string MaskUrlPassword(std::string_view url) {
  size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  size_t start = scheme + 3;
  size_t end = url.find_first_of("/?#", start);
  std::string_view authority = url.substr(start, end == std::string_view::npos ? url.npos : end - start);
  size_t at = authority.rfind('@');
  if (at == std::string_view::npos) return std::string(url);
  size_t colon = authority.substr(0, at).find(':');
  if (colon == std::string_view::npos) return std::string(url);
  std::string masked(url.substr(0, start + colon + 1));
  masked += "***";
  masked += url.substr(start + at);
  return masked;
}

namespace {

std::string Join(std::initializer_list<std::string_view> fields) {
  std::string line;
  for (std::string_view field : fields) {
    if (!line.empty()) line += ", ";
    line += field;
  }
  return line;
}

// Reads a decimal number at text[pos]; false when there is none.
bool ReadNumber(std::string_view text, size_t& pos, int& value) {
  size_t start = pos;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 6)
    value = value * 10 + (text[pos++] - '0');
  return pos > start;
}

// Where field n begins (after its comma and the blanks), or npos without it.
size_t LogFieldStart(std::string_view line, int n) {
  size_t pos = 0;
  for (int i = 0; i < n; ++i) {
    size_t comma = line.find(',', pos);
    if (comma == std::string_view::npos) return std::string_view::npos;
    pos = comma + 1;
  }
  while (pos < line.size() && line[pos] == ' ') ++pos;
  return pos;
}

std::string_view LogFieldUpTo(std::string_view line, int n, const char* stops) {
  size_t pos = LogFieldStart(line, n);
  if (pos == std::string_view::npos) return {};
  size_t end = line.find_first_of(stops, pos);
  if (end == std::string_view::npos) end = line.size();
  return line.substr(pos, end - pos);
}

}  // namespace

std::string ConnectionLogName(std::int64_t localSeconds) { return DatedName(localSeconds, "log"); }
std::string SessionLogName(std::int64_t localSeconds) { return DatedName(localSeconds, "lgs"); }
std::string ConnectionLogPath(std::int64_t localSeconds) {
  return LoggingFolder() + "/" + ConnectionLogName(localSeconds);
}
std::string SessionLogPath(std::int64_t localSeconds) { return LoggingFolder() + "/" + SessionLogName(localSeconds); }

std::string FormatLogTimeStamp(std::int64_t localSeconds) {
  std::tm tm = LocalTm(localSeconds);
  char text[32];
  std::snprintf(text, sizeof(text), "%02d.%02d.%02d, %02d:%02d:%02d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year % 100,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::string_view LogField(std::string_view line, int n) { return LogFieldUpTo(line, n, ",\r\n"); }
std::string_view LogFieldToEnd(std::string_view line, int n) { return LogFieldUpTo(line, n, "\r\n"); }

std::int64_t LogTimeOfDay(std::string_view field) {
  int parts[3];
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0 && (pos >= field.size() || field[pos++] != ':')) return -1;
    size_t start = pos;
    if (!ReadNumber(field, pos, parts[i]) || pos - start != 2) return -1;
  }
  if (pos != field.size() || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return -1;
  return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

std::string ServiceLogName(const ConnectionRecord& connection) {
  switch (connection.service) {
    case kServiceHttp:
      return "HTTP";
    case kServiceHttpFtpData:
      return "HTTP_FTP_DATA";
    case kServiceFtpControl:
      return "FTP_COMM";
    case kServiceFtpData:
      return "FTP_DATA";
    case kServiceSmtp:
      return "SMTP";
    case kServicePop3:
      return "POP3";
    case kServiceSocks5:
      return "Socks5";
    default:
      return connection.method;  // the port-mapping rule's protocol name
  }
}

ConnectionLineParts TakeConnectionPartsLocked(ConnectionRecord& connection) {
  ConnectionLineParts parts;
  if (!connection.userSession || connection.localServer) return parts;
  const UserRecord& user = *connection.userSession->user;
  parts.logged = true;
  parts.userName = user.name;
  parts.login = user.login;
  parts.durationMs = (connection.endCounter - connection.startCounter) * 1000 / kPerformanceFrequency;
  parts.start = connection.endTime - parts.durationMs / 1000;
  parts.received = connection.bytesReceived;
  parts.sent = connection.bytesSent;
  connection.startCounter = 0;
  connection.endCounter = 0;
  connection.bytesReceived = 0;
  connection.bytesSent = 0;
  return parts;
}

std::string FormatConnectionLine(const ConnectionRecord& connection, const ConnectionLineParts& parts) {
  if (!parts.logged) return {};
  return Join({EscapeField(ServiceLogName(connection)), EscapeField(parts.userName), EscapeField(parts.login),
               FormatIpv4(connection.clientAddress), FormatLogTimeStamp(parts.start), EscapeField(connection.host),
               std::to_string(parts.durationMs), std::to_string(parts.received), std::to_string(parts.sent),
               EscapeField(MaskUrlPassword(connection.url), true)});
}

std::string TakeConnectionLineLocked(ConnectionRecord& connection, std::int64_t& start) {
  ConnectionLineParts parts = TakeConnectionPartsLocked(connection);
  start = parts.start;
  return FormatConnectionLine(connection, parts);
}

void WriteConnectionLine(std::uint8_t service, std::int64_t start, const std::string& line) {
  if (line.empty()) return;
  AppendLine(ConnectionLogPath(start), line);
  if (MonitorShows(MonitorSwitchOf(service))) MonitorShow(line, MonitorSwitchOf(service));
}

PendingLogLine SessionLineLocked(const SessionRecord& record, const UserSession& session) {
  const UserRecord& user = *session.user;
  const CounterBlock& c = session.counters;
  std::int64_t stamp = ProgramClock().LocalNow() - c.timeMs / 1000;
  std::string head =
      Join({EscapeField(user.name), EscapeField(user.login), FormatIpv4(record.address), FormatLogTimeStamp(stamp),
            std::to_string(c.timeMs), std::to_string(c.incoming), std::to_string(c.outgoing)});
  std::string line = Join({head, std::to_string(c.money), std::to_string(c.nationalMoney)});
  return {SessionLogPath(stamp), std::move(line), "CLOSE_SESSION, " + head};
}

void TakeSessionLineLocked(const SessionRecord& record, UserSession& session, std::vector<PendingLogLine>& out) {
  if (session.stamp == 0) return;
  out.push_back(SessionLineLocked(record, session));
  session.counters = CounterBlock{};
}

void WriteLogLines(const std::vector<PendingLogLine>& lines) {
  for (const PendingLogLine& line : lines) {
    if (!line.monitorText.empty()) MonitorAppend(line.monitorText);
    AppendLine(line.path, line.text);
  }
}

void PurgeOldLogs(std::int64_t today) {
  // Zero or less keeps every log: a negative number of days would otherwise
  // delete today's file too, and with it every counter.
  int keepDays = Settings()->StoreLogs;
  if (keepDays <= 0) return;
  std::string folder = LoggingFolder();
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::tm now = LocalTm(today);
  std::int64_t todayDate = LocalSeconds(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    // "*-Brindlex.l??"
    size_t tail = name.rfind("-Brindlex.l");
    if (tail == std::string_view::npos || tail + 13 != name.size()) continue;
    size_t pos = 0;
    int day = 0, month = 0, year = 0;
    if (!ReadNumber(name, pos, day) || ++pos > name.size() || !ReadNumber(name, pos, month) || ++pos > name.size() ||
        !ReadNumber(name, pos, year))
      continue;
    if (month < 1 || month > 12 || day < 1 || day > 31) continue;
    std::int64_t fileDate = LocalSeconds(2000 + year, month, day);
    std::tm check = LocalTm(fileDate);
    if (check.tm_mday != day) continue;  // 31 February and the like
    if ((todayDate - fileDate) / 86400 > keepDays) ::unlink((folder + "/" + std::string(name)).c_str());
  }
  ::closedir(dir);
}

}  // namespace brindlex
