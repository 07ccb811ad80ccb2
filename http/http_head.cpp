#include "http/http_head.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <functional>

#include "core/chars.h"
#include "core/host_names.h"
#include "core/value_codec.h"
#include "http/message_body.h"

namespace brindlex {

namespace {

// Decimal digits at `at`, saturating at INT32_MAX; no digits read as 0.
std::int32_t ReadDecimal(std::string_view text, size_t& at) {
  std::int64_t value = 0;
  while (at < text.size() && IsDigit(text[at])) {
    value = std::min<std::int64_t>(value * 10 + (text[at] - '0'), INT32_MAX);
    ++at;
  }
  return static_cast<std::int32_t>(value);
}

// The line starting at `at`: its content up to the first CR or LF.
std::string_view LineContent(const char* bytes, size_t end, size_t at) {
  size_t stop = at;
  while (stop < end && !IsLineEnd(bytes[stop])) ++stop;
  return std::string_view(bytes + at, stop - at);
}

// The start of the next line after `at`, or `end`.
size_t NextLine(const char* bytes, size_t end, size_t at) {
  const void* lf = std::memchr(bytes + at, '\n', end - at);
  return lf ? static_cast<size_t>(static_cast<const char*>(lf) - bytes) + 1 : end;
}

struct HeaderName {
  const char* name;
  RequestHeader header;
  bool forwarded;
};
constexpr HeaderName kHeaderNames[] = {
    {"cache-control:", RequestHeader::CacheControl, true},
    {"connection:", RequestHeader::Connection, false},
    {"pragma:", RequestHeader::Pragma, true},
    {"authorization:", RequestHeader::Authorization, true},
    // The next hop hears the host of the URL, in a line of the gateway's own.
    {"host:", RequestHeader::Host, false},
    {"if-modified-since:", RequestHeader::IfModifiedSince, false},
    {"if-match:", RequestHeader::IfMatch, false},
    {"if-none-match:", RequestHeader::IfNoneMatch, false},
    {"if-unmodified-since:", RequestHeader::IfUnmodifiedSince, false},
    {"proxy-connection:", RequestHeader::ProxyConnection, false},
    {"proxy-authorization:", RequestHeader::ProxyAuthorization, false},
    {"cookie:", RequestHeader::Cookie, true},
    // The body's framing goes on as the gateway read it, in its own line.
    {"content-length:", RequestHeader::ContentLength, false},
    {"transfer-encoding:", RequestHeader::TransferEncoding, false},
};

// A header name with a blank before its colon is read as another header by
// some servers and ignored by others.
bool BlankBeforeColon(std::string_view line) {
  size_t colon = line.find(':');
  return colon != std::string_view::npos &&
         std::any_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon), IsBlank);
}

constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// Days from 1970-01-01 to a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v = Base64Value(c);
    if (v < 0) break;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// The first comma-separated item of an entity-tag list, without its quotes.
std::string FirstTag(std::string_view value) {
  size_t at = SkipBlanks(value, 0);
  size_t end = value.find(',', at);
  std::string_view item = value.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
  while (!item.empty() && IsBlank(item.back())) item.remove_suffix(1);
  std::string tag;
  for (char c : item)
    if (c != '"') tag.push_back(c);
  return tag;
}

std::int32_t DateField(std::string_view value) {
  std::int64_t date = ParseHttpDate(value);
  // The record keeps 32-bit seconds; a later date is one it cannot hold.
  return date > INT32_MAX ? 0 : static_cast<std::int32_t>(date);
}

}  // namespace

size_t FindHeadEnd(const char* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] != '\n') continue;
    if (i + 1 >= length) return 0;
    char next = bytes[i + 1];
    if (next == '\n') return i + 2;
    if (next != '\r') continue;
    if (i + 2 >= length) return 0;  // wait for the LF that normally follows
    return bytes[i + 2] == '\n' ? i + 3 : i + 2;
  }
  return 0;
}

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void ParseRequestLine(const char* bytes, size_t length, RequestLine& line) {
  std::string_view all = LineContent(bytes, length, 0);
  size_t at = 0;
  while (at < all.size() && !IsBlank(all[at])) ++at;
  line.method.assign(all.substr(0, at));

  at = SkipBlanks(all, at);
  size_t tokenEnd = at;
  while (tokenEnd < all.size() && !IsBlank(all[tokenEnd])) ++tokenEnd;
  std::string_view token = all.substr(at, tokenEnd - at);
  std::string_view url = token;
  static constexpr std::string_view kLoginLink = "%login%";
  if (tokenEnd < all.size() && url.size() >= kLoginLink.size() &&
      url.substr(url.size() - kLoginLink.size()) == kLoginLink) {
    url.remove_suffix(kLoginLink.size());
    line.loginLink = true;
  }
  url = url.substr(0, std::min(url.size(), kUrlMax));
  line.url.assign(url);

  // A URL that starts with '/' is a bare path, whatever it contains; only an
  // absolute URL ("scheme://") or an authority ("host:port") names a host.
  size_t hostBegin = 0;
  size_t hostEnd = 0;
  if (url.empty() || url[0] != '/') {
    if (size_t slashes = url.find("//"); slashes != std::string_view::npos) hostBegin = slashes + 2;
    hostEnd = std::min(url.find('/', hostBegin), url.size());
  }
  std::string_view hostPart = url.substr(hostBegin, hostEnd - hostBegin);
  hostPart = hostPart.substr(0, std::min(hostPart.size(), kUrlMax));

  // Credentials before the host; the last '@' starts the host, as '@' is not
  // allowed unescaped in the credentials themselves.
  if (size_t atSign = hostPart.rfind('@'); atSign != std::string_view::npos) {
    std::string_view credentials = hostPart.substr(0, atSign);
    size_t colon = credentials.find(':');
    std::string_view login = credentials.substr(0, colon);
    line.hasUrlCredentials = true;
    line.urlLogin = UrlDecode(login.substr(0, std::min(login.size(), kCredentialMax)));
    if (colon != std::string_view::npos) {
      line.hasUrlPassword = true;
      std::string_view password = credentials.substr(colon + 1);
      line.urlPassword = UrlDecode(password.substr(0, std::min(password.size(), kCredentialMax)));
    }
    hostPart.remove_prefix(atSign + 1);
  }
  line.host.assign(hostPart);

  // The path is taken from the token as sent, up to its blank.
  size_t pathBegin = std::min(hostEnd, token.size());
  std::string_view path = token.substr(pathBegin);
  path = path.substr(0, std::min(path.size(), kUrlMax));
  line.path = path.empty() ? std::string("/") : std::string(path);
}

RequestHeader MatchRequestHeader(std::string_view line, size_t& valueOffset) {
  for (const HeaderName& entry : kHeaderNames) {
    std::string_view name = entry.name;
    if (StartsWithNoCase(line, name)) {
      valueOffset = SkipBlanks(line, name.size());
      return entry.header;
    }
  }
  valueOffset = 0;
  return RequestHeader::Other;
}

bool IsForwardedHeader(RequestHeader header) {
  for (const HeaderName& entry : kHeaderNames)
    if (entry.header == header) return entry.forwarded;
  return true;
}

void ForEachCacheDirective(std::string_view value, const std::function<void(std::string_view item)>& visit) {
  size_t at = 0;
  while (at < value.size()) {
    at = SkipBlanks(value, at);
    size_t end = std::min(value.find(',', at), value.size());
    std::string_view item = value.substr(at, end - at);
    if (!item.empty() && item[0] == '"') {
      item.remove_prefix(1);
      item = item.substr(0, item.find('"'));
    }
    visit(item);
    at = end + 1;
  }
}

void ParseCacheControl(std::string_view value, CacheDirectives& directives, RequestConditions& conditions) {
  ForEachCacheDirective(value, [&directives, &conditions](std::string_view item) {
    auto numberAfter = [&item](size_t nameLength, std::int32_t& field, std::int32_t bare) {
      size_t i = SkipBlanks(item, nameLength);
      if (i < item.size() && item[i] == '=') {
        i = SkipBlanks(item, i + 1);
        if (i < item.size() && item[i] == '"') ++i;
        field = ReadDecimal(item, i);
      } else if (bare >= 0) {
        field = bare;
      }
    };
    if (StartsWithNoCase(item, "no-cach")) {
      directives.noCache = true;
    } else if (StartsWithNoCase(item, "no-store")) {
      directives.noStore = true;
    } else if (StartsWithNoCase(item, "max-age")) {
      numberAfter(7, conditions.maxAge, -1);
    } else if (StartsWithNoCase(item, "max-stale")) {
      numberAfter(9, conditions.maxStale, 0);
    } else if (StartsWithNoCase(item, "min-fresh")) {
      numberAfter(9, conditions.minFresh, -1);
    }
  });
}

std::int64_t ParseHttpDate(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && !IsDigit(text[at])) ++at;
  if (at == text.size()) return -1;
  std::int32_t day = ReadDecimal(text, at);
  while (at < text.size() && (IsBlank(text[at]) || text[at] == '-')) ++at;
  if (at + 3 > text.size() || !IsLetter(text[at])) return -1;
  int month = -1;
  for (int m = 0; m < 12; ++m)
    if (StartsWithNoCase(text.substr(at), kMonths[m])) month = m;
  while (at < text.size() && IsLetter(text[at])) ++at;
  while (at < text.size() && (IsBlank(text[at]) || text[at] == '-')) ++at;
  if (at == text.size() || !IsDigit(text[at])) return -1;
  std::int32_t year = ReadDecimal(text, at);
  at = SkipBlanks(text, at);
  std::int32_t clock[3];
  for (int part = 0; part < 3; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != ':') return -1;
      ++at;
    }
    if (at >= text.size() || !IsDigit(text[at])) return -1;
    clock[part] = ReadDecimal(text, at);
  }
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 0 || year < 1900 || year > 9999 || day < 1 || day > kMonthDays[month] || clock[0] > 23 || clock[1] > 59 ||
      clock[2] > 60)
    return 0;
  std::int64_t seconds = DaysFromCivil(year, static_cast<unsigned>(month + 1), static_cast<unsigned>(day)) * 86400 +
                         clock[0] * 3600 + clock[1] * 60 + clock[2];
  if (seconds < 0) return 0;
  return seconds == 0 ? 1 : seconds;
}

std::string FormatHttpDate(std::int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!::gmtime_r(&t, &tm)) return {};
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%s, %02d %s %04d %02d:%02d:%02d GMT", kDayNames[tm.tm_wday % 7], tm.tm_mday,
                kMonthNames[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buffer;
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t v = (static_cast<std::uint8_t>(bytes[i]) << 16) | (static_cast<std::uint8_t>(bytes[i + 1]) << 8) |
                      static_cast<std::uint8_t>(bytes[i + 2]);
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], kAlphabet[v & 63]};
  }
  if (size_t rest = bytes.size() - i; rest > 0) {
    std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], rest == 2 ? kAlphabet[(v >> 6) & 63] : '=', '='};
  }
  return out;
}

bool ParseBasicCredentials(std::string_view value, std::string& login, std::string& password) {
  if (!StartsWithNoCase(value, "basic")) return false;
  size_t at = SkipBlanks(value, 5);
  if (at == 5 && at < value.size()) return false;  // "basicXYZ" is another scheme
  std::string decoded = Base64Decode(value.substr(at));
  size_t colon = decoded.find(':');
  std::string_view all = decoded;
  std::string_view user = all.substr(0, colon);
  std::string_view secret = colon == std::string_view::npos ? std::string_view() : all.substr(colon + 1);
  login.assign(user.substr(0, std::min(user.size(), kCredentialMax)));
  password.assign(secret.substr(0, std::min(secret.size(), kCredentialMax)));
  return true;
}

HeadStatus ParseRequestHead(const char* bytes, size_t length, bool cachCookie, RequestHead& head) {
  size_t end = FindHeadEnd(bytes, std::min(length, kRequestHeadMax));
  if (end == 0) return length >= kRequestHeadMax ? HeadStatus::TooLarge : HeadStatus::Incomplete;
  head = RequestHead{};
  head.headLength = end;
  bool malformed = std::memchr(bytes, '\0', end) != nullptr;

  ParseRequestLine(bytes, end, head.line);
  RequestLine& line = head.line;

  bool previousForwarded = false;
  int hostLines = 0;
  std::vector<std::string_view> contentLengths, transferEncodings;
  for (size_t at = NextLine(bytes, end, 0); at < end && !IsLineEnd(bytes[at]); at = NextLine(bytes, end, at)) {
    std::string_view text = LineContent(bytes, end, at);
    // A folded continuation belongs to the line before it and shares its fate,
    // so nothing of a dropped header reaches the next hop.
    if (IsBlank(text[0])) {
      if (previousForwarded)
        head.forwarded.push_back({static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(text.size()), true});
      continue;
    }
    if (BlankBeforeColon(text)) malformed = true;
    size_t valueAt = 0;
    RequestHeader header = MatchRequestHeader(text, valueAt);
    std::string_view value = text.substr(valueAt);
    switch (header) {
      case RequestHeader::CacheControl:
        ParseCacheControl(value, head.cache, head.conditions);
        break;
      case RequestHeader::Pragma:
        if (StartsWithNoCase(value, "no-cach")) head.cache.noCache = true;
        break;
      case RequestHeader::Authorization:
        head.hasAuthorization = true;
        if (ParseBasicCredentials(value, head.authLogin, head.authPassword)) head.hasBasicAuthorization = true;
        break;
      case RequestHeader::Host:
        // Two Host lines name two servers: which one the next hop or a
        // cache would believe is anybody's guess.
        if (++hostLines > 1) malformed = true;
        if (line.host.empty()) {
          while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
          line.host.assign(value);
        }
        break;
      case RequestHeader::ContentLength:
        contentLengths.push_back(value);
        break;
      case RequestHeader::TransferEncoding:
        transferEncodings.push_back(value);
        break;
      case RequestHeader::IfModifiedSince:
        head.conditions.time = DateField(value);
        head.conditions.isUnmodified = false;
        break;
      case RequestHeader::IfUnmodifiedSince:
        head.conditions.time = DateField(value);
        head.conditions.isUnmodified = true;
        break;
      case RequestHeader::IfMatch:
        head.conditions.etag = FirstTag(value);
        head.conditions.isNoneMatch = false;
        break;
      case RequestHeader::IfNoneMatch:
        head.conditions.etag = FirstTag(value);
        head.conditions.isNoneMatch = true;
        break;
      case RequestHeader::ProxyAuthorization:
        ParseBasicCredentials(value, head.proxyLogin, head.proxyPassword);
        break;
      case RequestHeader::Cookie:
        if (!cachCookie) head.cache.noStore = true;
        break;
      case RequestHeader::Connection:
      case RequestHeader::ProxyConnection:
      case RequestHeader::Other:
        break;
    }
    previousForwarded = IsForwardedHeader(header);
    if (previousForwarded)
      head.forwarded.push_back({static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(text.size()), false});
  }

  if (line.method.empty() || line.host.empty() || line.path.empty()) malformed = true;
  // A cut method or host would name something the client never asked for.
  if (line.method.size() > kRequestMethodMax || line.host.size() > kRequestHostMax) malformed = true;
  // A port with anything but digits would leave part of the authority to pass
  // for the host name ("127.0.0.1:80.lan" read as port 80 of a ".lan" host).
  HostPort authority;
  if (!SplitHostPort(line.host, authority)) malformed = true;
  if (!DecideBodyFraming(contentLengths, transferEncodings, EqualsNoCase(line.method, "connect"), head.body))
    malformed = true;
  return malformed ? HeadStatus::Malformed : HeadStatus::Ok;
}

std::string HeadCompletion(const RequestConditions& conditions) {
  std::string text;
  if (conditions.time != -1) {
    std::string date = FormatHttpDate(conditions.time);
    if (!date.empty()) {
      text += conditions.isUnmodified ? "If-Unmodified-Since: " : "If-Modified-Since: ";
      text += date;
      text += "\r\n";
    }
  }
  if (!conditions.etag.empty()) {
    text += conditions.isNoneMatch ? "If-None-Match: \"" : "If-Match: \"";
    text += conditions.etag;
    text += "\"\r\n";
  }
  text += "Connection: close\r\n\r\n";
  return text;
}

size_t BuildOutgoingHead(const RequestHead& head, const char* bytes, std::string_view target,
                         std::string_view extraLines, size_t reserve, char* area, size_t areaSize) {
  static constexpr std::string_view kVersion = " HTTP/1.1\r\n";
  const std::string& method = head.line.method;
  size_t fixed = method.size() + 1 + target.size() + kVersion.size() + extraLines.size() + reserve;
  if (fixed > areaSize) return 0;
  size_t used = 0;
  auto append = [&](std::string_view text) {
    std::memcpy(area + used, text.data(), text.size());
    used += text.size();
  };
  append(method);
  append(" ");
  append(target);
  append(kVersion);
  size_t budget = areaSize - fixed;
  bool previousTaken = false;
  for (const HeadSpan& span : head.forwarded) {
    size_t needed = span.length + 2;
    // A line that does not fit is left out (with its continuations); shorter
    // ones after it may still fit.
    if (needed > budget || (span.continuation && !previousTaken)) {
      previousTaken = false;
      continue;
    }
    previousTaken = true;
    append(std::string_view(bytes + span.begin, span.length));
    append("\r\n");
    budget -= needed;
  }
  append(extraLines);
  return used;
}

}  // namespace brindlex
