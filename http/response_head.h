// Parsing of the head of an HTTP response as an origin server (or a parent
// proxy) sends it back through the gateway: the status, the headers that
// decide whether and how long the answer may be kept in the disk cache, and
// the header block that is stored in front of the body of a cache object.
//
// A pure function over (bytes, length): no state, no I/O, safe from any
// thread. Nothing reads past `length`; the head it looks at is bounded by the
// caller's buffer (8 KB), and so is everything it copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace brindlex {

// What a complete response head says. Dates are Greenwich seconds since 1970
// as the cache index keeps them (32-bit, later dates clamped to the largest);
// a date header that cannot be read gives -1 (fields missing) or 0, except
// Expires, for which any unreadable value is 0: a date in the past.
struct ResponseHead {
  size_t headLength = 0;  // through the blank line
  bool isHttp = false;    // begins with "http" in any case; nothing else is set otherwise
  int status = 0;         // the three digits after the version; 0 when absent

  // Present headers; an absent one stays nullopt.
  std::optional<std::int64_t> dateHeader;
  std::optional<std::int32_t> ageHeader;
  std::optional<std::int64_t> expires;
  std::optional<std::int64_t> lastModified;

  std::int32_t maxAge = -1;  // Cache-Control max-age=N
  bool mustRevalidate = false;
  bool isPublic = false;  // Cache-Control public: stored even for a request with credentials
  // Cache-Control private, no-cache or no-store; Pragma no-cach; Set-Cookie
  // unless cookies may be cached.
  bool noStore = false;
  std::int64_t contentLength = -1;  // -1 when absent or not a number
  bool chunked = false;             // Transfer-Encoding ends with "chunked"
  std::string etag;                 // without its double quotes

  // The status line and every header line but Date and Age, each ended with
  // CR LF, then one empty line: what a cache object starts with.
  std::string headerBlock;
};

// Parses the head at the start of `bytes`. Returns false, leaving `head`
// alone, while the head has not ended within `length` bytes (the end is the
// first LF directly followed by CR or LF). `cachCookie` is the setting that
// lets answers that set cookies be stored.
bool ParseResponseHead(const char* bytes, size_t length, bool cachCookie, ResponseHead& head);

}  // namespace brindlex
