// What a client's request says about the copy it will accept: its own
// If-(Un)Modified-Since and If-(None-)Match conditions and its Cache-Control
// freshness limits. Read from the request head, kept in the connection record
// and judged against a cached object; -1 and empty mean "not given".
#pragma once

#include <cstdint>
#include <string>

namespace brindlex {

struct RequestConditions {
  std::int32_t time = -1;      // Greenwich seconds of If-Modified-Since or If-Unmodified-Since
  bool isUnmodified = false;   // the time came from If-Unmodified-Since
  std::string etag;            // the first tag of If-Match or If-None-Match, "*" for any
  bool isNoneMatch = false;    // the tag came from If-None-Match
  std::int32_t maxAge = -1;    // seconds, as Cache-Control gives them
  std::int32_t maxStale = -1;  // 0: any staleness (max-stale without a value)
  std::int32_t minFresh = -1;

  bool operator==(const RequestConditions&) const = default;
};

}  // namespace brindlex
