#include "http/response_head.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

#include "core/chars.h"
#include "core/value_codec.h"
#include "http/http_head.h"

namespace brindlex {

namespace {

// Decimal digits at `at`, saturating at `limit`; nullopt without a digit.
std::optional<std::int64_t> ReadDecimal(std::string_view text, size_t& at, std::int64_t limit) {
  if (at >= text.size() || !IsDigit(text[at])) return std::nullopt;
  std::int64_t value = 0;
  while (at < text.size() && IsDigit(text[at])) {
    value = std::min<std::int64_t>(value * 10 + (text[at] - '0'), limit);
    ++at;
  }
  return value;
}


void ApplyCacheControl(std::string_view value, ResponseHead& head) {
  ForEachCacheDirective(value, [&head](std::string_view item) {
    if (StartsWithNoCase(item, "public")) {
      head.isPublic = true;
    } else if (StartsWithNoCase(item, "private") || StartsWithNoCase(item, "no-cache") ||
               StartsWithNoCase(item, "no-store")) {
      head.noStore = true;
    } else if (StartsWithNoCase(item, "must-revalidate")) {
      head.mustRevalidate = true;
    } else if (StartsWithNoCase(item, "max-age")) {
      size_t i = SkipBlanks(item, 7);
      if (i < item.size() && item[i] == '=') {
        i = SkipBlanks(item, i + 1);
        if (i < item.size() && item[i] == '"') ++i;
        if (auto seconds = ReadDecimal(item, i, INT32_MAX)) head.maxAge = static_cast<std::int32_t>(*seconds);
      }
    }
  });
}

enum class Header {
  CacheControl,
  Date,
  Pragma,
  Age,
  ContentLength,
  TransferEncoding,
  Etag,
  Expires,
  LastModified,
  SetCookie,
  Other
};

struct HeaderName {
  std::string_view name;
  Header header;
};
constexpr HeaderName kHeaderNames[] = {
    {"cache-control:", Header::CacheControl},
    {"date:", Header::Date},
    {"pragma:", Header::Pragma},
    {"age:", Header::Age},
    {"content-length:", Header::ContentLength},
    {"transfer-encoding:", Header::TransferEncoding},
    {"etag:", Header::Etag},
    {"expires:", Header::Expires},
    {"last-modified:", Header::LastModified},
    {"set-cookie:", Header::SetCookie},
};

Header MatchHeader(std::string_view line, size_t& valueOffset) {
  for (const HeaderName& candidate : kHeaderNames) {
    if (StartsWithNoCase(line, candidate.name)) {
      valueOffset = SkipBlanks(line, candidate.name.size());
      return candidate.header;
    }
  }
  valueOffset = 0;
  return Header::Other;
}

// Applies one header line; returns whether it belongs in the stored block.
bool ApplyHeader(std::string_view line, bool cachCookie, ResponseHead& head) {
  size_t at = 0;
  Header header = MatchHeader(line, at);
  std::string_view value = line.substr(at);
  switch (header) {
    case Header::CacheControl:
      ApplyCacheControl(value, head);
      return true;
    case Header::Date:
      head.dateHeader = ParseHttpDate(value);
      return false;
    case Header::Pragma:
      if (StartsWithNoCase(value, "no-cach")) head.noStore = true;
      return true;
    case Header::Age: {
      size_t i = 0;
      head.ageHeader = static_cast<std::int32_t>(ReadDecimal(value, i, INT32_MAX).value_or(0));
      return false;
    }
    case Header::ContentLength: {
      size_t i = 0;
      // An unreadable length is no length: the body then ends with the
      // connection, which is what a client would assume as well.
      head.contentLength = ReadDecimal(value, i, INT64_MAX / 16).value_or(-1);
      return true;
    }
    case Header::TransferEncoding:
      // Chunked is always the last coding applied, so its name ends the value.
      while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
      head.chunked = value.size() >= 7 && EqualsNoCase(value.substr(value.size() - 7), "chunked");
      return true;
    case Header::Etag: {
      while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
      head.etag.clear();
      for (char c : value)
        if (c != '"') head.etag.push_back(c);
      return true;
    }
    case Header::Expires: {
      // "Expires: 0" and other dates that cannot be read mean "already
      // expired"; read as absent they would make the object fresh for a day.
      std::int64_t date = ParseHttpDate(value);
      head.expires = date == -1 ? 0 : date;
      return true;
    }
    case Header::LastModified:
      head.lastModified = ParseHttpDate(value);
      return true;
    case Header::SetCookie:
      if (!cachCookie) head.noStore = true;
      return true;
    case Header::Other:
      return true;
  }
  return true;
}

}  // namespace

bool ParseResponseHead(const char* bytes, size_t length, bool cachCookie, ResponseHead& head) {
  size_t end = FindHeadEnd(bytes, length);
  if (end == 0) return false;
  head = ResponseHead{};
  head.headLength = end;
  std::string_view text(bytes, end);
  head.isHttp = StartsWithNoCase(text, "http");
  if (!head.isHttp) return true;

  auto lineAt = [&text](size_t at) {
    size_t stop = at;
    while (stop < text.size() && text[stop] != '\r' && text[stop] != '\n') ++stop;
    return text.substr(at, stop - at);
  };
  auto nextLine = [&text](size_t at) {
    size_t lf = text.find('\n', at);
    return lf == std::string_view::npos ? text.size() : lf + 1;
  };

  std::string_view statusLine = lineAt(0);
  size_t blank = statusLine.find(' ');
  if (blank != std::string_view::npos) {
    size_t i = SkipBlanks(statusLine, blank);
    size_t digits = 0;
    while (i + digits < statusLine.size() && digits < 4 && IsDigit(statusLine[i + digits])) ++digits;
    if (digits == 3)
      head.status = (statusLine[i] - '0') * 100 + (statusLine[i + 1] - '0') * 10 + (statusLine[i + 2] - '0');
  }
  head.headerBlock.reserve(end + 2);
  head.headerBlock.append(statusLine).append("\r\n");

  bool previousStored = true;
  for (size_t at = nextLine(0); at < text.size(); at = nextLine(at)) {
    std::string_view line = lineAt(at);
    if (line.empty()) break;  // the blank line that ends the head
    // A folded line continues the header before it and shares its fate.
    bool stored = IsBlank(line[0]) ? previousStored : ApplyHeader(line, cachCookie, head);
    if (stored) head.headerBlock.append(line).append("\r\n");
    previousStored = stored;
  }
  head.headerBlock.append("\r\n");
  return true;
}

}  // namespace brindlex
