// Parsing of an HTTP request head as a browser sends it to the proxy: the end
// of the head, the request line and its URL parts, the header table with its
// forwarding rules, Cache-Control directives, HTTP dates and Basic
// credentials; and the outgoing head rebuilt for the next hop.
//
// Everything here is a pure function over (bytes, length): no state, no I/O,
// safe from any thread. Nothing reads past `length`, and every copied field
// has a bound, so a hostile head costs at most its own 8 KB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_body.h"
#include "core/request_conditions.h"

namespace brindlex {

inline constexpr size_t kUrlMax = 8191;
inline constexpr size_t kCredentialMax = 1023;
inline constexpr size_t kOutgoingHeadSize = 8192;
// A head must end within this many bytes (the client input buffer).
inline constexpr size_t kRequestHeadMax = 8192;
inline constexpr size_t kRequestMethodMax = 154;
inline constexpr size_t kRequestHostMax = 511;

// Length of the head through its blank line (CR LF or a bare LF), or 0 while
// the end has not arrived. A head ends at the first LF that is directly
// followed by CR or LF.
size_t FindHeadEnd(const char* bytes, size_t length);

// "%XY" gives that byte, '+' a blank; a '%' without two hex digits stays.
std::string UrlDecode(std::string_view text);

// What the request line says.
struct RequestLine {
  std::string method;
  std::string url;                 // as requested, cut before "%login% "
  std::string host;                // may end in ":port"; empty for a path-only request
  std::string path;                // never empty: "/" when the URL has none
  bool hasUrlCredentials = false;  // "user[:password]@" before the host
  bool hasUrlPassword = false;     // ... with ":password"
  std::string urlLogin;
  std::string urlPassword;
  bool loginLink = false;  // the URL held "%login% "
};
// Parses the first line of `bytes` (up to its CR or LF). Fields longer than
// their bounds are cut; ParseRequestHead decides what is acceptable.
void ParseRequestLine(const char* bytes, size_t length, RequestLine& line);

// The request header table, in the order the names are tried.
enum class RequestHeader : std::uint8_t {
  CacheControl,
  Connection,
  Pragma,
  Authorization,
  Host,
  IfModifiedSince,
  IfMatch,
  IfNoneMatch,
  IfUnmodifiedSince,
  ProxyConnection,
  ProxyAuthorization,
  Cookie,
  ContentLength,
  TransferEncoding,
  Other,
};
// Matches the beginning of a header line (any case); `valueOffset` is set to
// the first byte after the name and the blanks that follow it.
RequestHeader MatchRequestHeader(std::string_view line, size_t& valueOffset);
// Whether a line with this name goes on to the next hop as the client sent it.
bool IsForwardedHeader(RequestHeader header);

// Whether the request lets its answer come from, or go into, the cache.
struct CacheDirectives {
  bool noCache = false;
  bool noStore = false;
};
// Splits a Cache-Control value into its directives (blanks skipped, one
// leading quoted part unquoted) and calls `visit` with each.
void ForEachCacheDirective(std::string_view value, const std::function<void(std::string_view item)>& visit);
// no-cache and no-store go into `directives`, the freshness limits into
// `conditions`; a directive not present leaves its field.
void ParseCacheControl(std::string_view value, CacheDirectives& directives, RequestConditions& conditions);

// An HTTP date (day, English month, year >= 1900, hh:mm:ss, read from the
// first digit on) as Greenwich seconds since 1970: -1 when a field is
// missing, 0 when the fields do not make a date, 1 for the epoch itself.
std::int64_t ParseHttpDate(std::string_view text);
// "Sun, 06 Nov 1994 08:49:37 GMT" for Greenwich seconds since 1970.
std::string FormatHttpDate(std::int64_t seconds);

// Standard Base64 (RFC 2045 alphabet, '=' padding).
std::string Base64Encode(std::string_view bytes);
// "Basic <base64>": the decoded text up to the first ':' is the login, the
// rest the password (each cut at kCredentialMax). False when the value is not
// Basic credentials.
bool ParseBasicCredentials(std::string_view value, std::string& login, std::string& password);

// A forwarded header line: its bytes in the head, without the line end.
struct HeadSpan {
  std::uint32_t begin = 0;
  std::uint32_t length = 0;
  bool continuation = false;  // a folded line that belongs to the one before
};

// Everything the request step takes from a complete head.
struct RequestHead {
  size_t headLength = 0;
  RequestLine line;  // host filled from "host:" when the line gave none
  CacheDirectives cache;
  RequestConditions conditions;
  bool hasAuthorization = false;
  bool hasBasicAuthorization = false;  // "authorization:" held Basic credentials
  std::string authLogin, authPassword;
  std::string proxyLogin, proxyPassword;
  MessageBody body;
  std::vector<HeadSpan> forwarded;
};

enum class HeadStatus {
  Incomplete,  // no blank line yet
  Malformed,   // no method, host or path; a NUL byte; a method or host over its
               // bound; a host or port SplitHostPort refuses; two Host lines; a
               // blank before a header's colon; a body DecideBodyFraming refuses
  TooLarge,    // no end within kRequestHeadMax bytes
  Ok,
};
// Parses a head at the start of `bytes`. `cachCookie` is the setting that
// lets answers to requests with cookies be cached.
HeadStatus ParseRequestHead(const char* bytes, size_t length, bool cachCookie, RequestHead& head);

// The lines the proxy adds at the end of the outgoing head: the client's
// conditions in normalised form (its freshness limits are for the gateway's
// cache alone), then "Connection: close" and the blank line.
std::string HeadCompletion(const RequestConditions& conditions);

// Builds the outgoing head into `area`: the request line for `target`, the
// forwarded lines of `head` (taken from `bytes`) while they fit, then
// `extraLines`. `reserve` bytes stay free for what is appended later, so the
// whole never exceeds `areaSize`. Returns the length, or 0 when not even the
// request line, the extra lines and the reserve fit.
size_t BuildOutgoingHead(const RequestHead& head, const char* bytes, std::string_view target,
                         std::string_view extraLines, size_t reserve, char* area, size_t areaSize);

}  // namespace brindlex
