#include "cache/cache_index.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>

namespace brindlex {

namespace {

std::uint16_t GetU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::int32_t GetI32(const std::uint8_t* p) { return static_cast<std::int32_t>(GetU32(p)); }

void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutI32(std::uint8_t* p, std::int32_t v) { PutU32(p, static_cast<std::uint32_t>(v)); }

// A time of a record in memory: its 32-bit field and its high half.
struct TimeField {
  std::size_t low;
  std::size_t high;
};
constexpr TimeField kTimeFields[] = {{kOffLastUsed, kOffLastUsedHigh},
                                     {kOffReceived, kOffReceivedHigh},
                                     {kOffDateHeader, kOffDateHeaderHigh},
                                     {kOffExpires, kOffExpiresHigh},
                                     {kOffLastModified, kOffLastModifiedHigh}};
constexpr TimeField kLastUsed = kTimeFields[0];
constexpr TimeField kReceived = kTimeFields[1];
constexpr TimeField kDateHeader = kTimeFields[2];
constexpr TimeField kExpires = kTimeFields[3];
constexpr TimeField kLastModified = kTimeFields[4];

std::int64_t GetTime(const std::uint8_t* record, TimeField field) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(GetU32(record + field.high)) << 32) |
                                   GetU32(record + field.low));
}
void PutTime(std::uint8_t* record, TimeField field, std::int64_t v) {
  std::uint64_t bits = static_cast<std::uint64_t>(v);
  PutU32(record + field.low, static_cast<std::uint32_t>(bits));
  PutU32(record + field.high, static_cast<std::uint32_t>(bits >> 32));
}

// Length of the sound record at `offset`, or 0 when it is damaged.
std::size_t SoundRecordLength(const std::uint8_t* bytes, std::size_t used, std::size_t offset) {
  if (used - offset < 2) return 0;
  std::size_t length = GetU16(bytes + offset + kOffRecordLength);
  if (length < kRecordMinLength || length > used - offset) return 0;
  const std::uint8_t* record = bytes + offset;
  if (record[kRecordFixedSize] == 0) return length;  // deleted: its text is never read
  const void* urlEnd = std::memchr(record + kRecordFixedSize, 0, length - kRecordFixedSize);
  if (!urlEnd) return 0;
  std::size_t etagStart = static_cast<const std::uint8_t*>(urlEnd) - record + 1;
  if (etagStart >= length || !std::memchr(record + etagStart, 0, length - etagStart)) return 0;
  return length;
}

bool IsLive(const std::uint8_t* record) { return record[kRecordFixedSize] != 0; }
void MarkDeleted(std::uint8_t* record) { record[kRecordFixedSize] = 0; }

}  // namespace

CacheRecordFixed DecodeRecordFixed(const std::uint8_t* record) {
  CacheRecordFixed f;
  f.recordLength = GetU16(record + kOffRecordLength);
  f.objectId = GetU32(record + kOffObjectId);
  f.lastUsed = GetTime(record, kLastUsed);
  f.received = GetTime(record, kReceived);
  f.dateHeader = GetTime(record, kDateHeader);
  f.ageHeader = GetI32(record + kOffAgeHeader);
  f.maxAge = GetI32(record + kOffMaxAge);
  f.expires = GetTime(record, kExpires);
  f.lastModified = GetTime(record, kLastModified);
  f.mustRevalidate = record[kOffMustRevalidate];
  f.headerLength = GetU16(record + kOffHeaderLength);
  f.touched = record[kOffTouched];
  f.diskSize = GetI32(record + kOffDiskSize);
  f.bodyLength = GetI32(record + kOffBodyLength);
  return f;
}

void EncodeRecordFixed(const CacheRecordFixed& f, std::uint8_t* record) {
  PutU16(record + kOffRecordLength, f.recordLength);
  PutU32(record + kOffObjectId, f.objectId);
  PutI32(record + kOffAgeHeader, f.ageHeader);
  PutI32(record + kOffMaxAge, f.maxAge);
  record[kOffMustRevalidate] = f.mustRevalidate;
  PutU16(record + kOffHeaderLength, f.headerLength);
  record[kOffTouched] = f.touched;
  PutI32(record + kOffDiskSize, f.diskSize);
  PutI32(record + kOffBodyLength, f.bodyLength);
  std::memset(record + kOffReserved, 0, kRecordFixedSize - kOffReserved);
  PutTime(record, kLastUsed, f.lastUsed);
  PutTime(record, kReceived, f.received);
  PutTime(record, kDateHeader, f.dateHeader);
  PutTime(record, kExpires, f.expires);
  PutTime(record, kLastModified, f.lastModified);
}

std::size_t RecordLengthFor(std::string_view url, std::string_view etag) {
  if (url.empty() || url.find('\0') != std::string_view::npos || etag.find('\0') != std::string_view::npos) return 0;
  if (url.size() > kRecordMaxLength || etag.size() > kRecordMaxLength) return 0;
  std::size_t length = kRecordMinLength + url.size() + etag.size();
  return length > kRecordMaxLength ? 0 : length;
}

void ResetIndex(CacheIndex& index) {
  index.block.assign(kInitialIndexCapacity, 0);
  index.used = 0;
  index.dirty = false;
}

void MarkIndexDamaged(CacheIndex& index) {
  index.used = 0;
  index.dirty = true;
}

std::size_t ReserveRecord(CacheIndex& index, std::size_t n) {
  std::size_t capacity = index.block.size();
  if (index.used + n >= capacity) {
    std::vector<std::uint8_t> larger(index.used + n + capacity / 10);
    std::memcpy(larger.data(), index.block.data(), index.used);
    index.block.swap(larger);
  }
  std::size_t offset = index.used;
  std::memset(index.block.data() + offset, 0, n);
  index.used += n;
  return offset;
}

void ShrinkIndex(CacheIndex& index) {
  std::size_t capacity = index.block.size();
  if (capacity <= kInitialIndexCapacity || index.used + capacity / 5 >= capacity) return;
  std::vector<std::uint8_t> smaller(std::max(index.used + index.used / 10, kInitialIndexCapacity));
  std::memcpy(smaller.data(), index.block.data(), index.used);
  index.block.swap(smaller);
}

std::string_view RecordUrl(const std::uint8_t* record) {
  std::size_t room = GetU16(record + kOffRecordLength) - kRecordFixedSize;
  const char* url = reinterpret_cast<const char*>(record + kRecordFixedSize);
  return std::string_view(url, strnlen(url, room));
}

std::string_view RecordEtag(const std::uint8_t* record) {
  if (!IsLive(record)) return {};
  std::size_t length = GetU16(record + kOffRecordLength);
  std::size_t start = kRecordFixedSize + RecordUrl(record).size() + 1;
  if (start >= length) return {};
  const char* etag = reinterpret_cast<const char*>(record + start);
  return std::string_view(etag, strnlen(etag, length - start));
}

WalkEnd WalkRecords(const std::uint8_t* bytes, std::size_t used, const std::function<bool(std::size_t offset)>& visit) {
  std::size_t offset = 0;
  while (offset < used) {
    std::size_t length = SoundRecordLength(bytes, used, offset);
    if (length == 0) return WalkEnd::Damaged;
    if (!visit(offset)) return WalkEnd::Stopped;
    offset += length;
  }
  return WalkEnd::Finished;
}

WalkEnd WalkIndex(CacheIndex& index, const std::function<bool(std::size_t offset)>& visit) {
  WalkEnd end = WalkRecords(index.block.data(), index.used, visit);
  if (end == WalkEnd::Damaged) MarkIndexDamaged(index);
  return end;
}

std::optional<std::size_t> FindRecordByUrl(CacheIndex& index, std::string_view url) {
  std::optional<std::size_t> found;
  if (url.empty()) return found;
  WalkIndex(index, [&](std::size_t offset) {
    if (RecordUrl(index.block.data() + offset) != url) return true;
    found = offset;
    return false;
  });
  return index.used == 0 ? std::nullopt : found;
}

std::optional<std::size_t> FindLiveRecordById(CacheIndex& index, std::uint32_t objectId) {
  std::optional<std::size_t> found;
  WalkIndex(index, [&](std::size_t offset) {
    const std::uint8_t* record = index.block.data() + offset;
    if (!IsLive(record) || GetU32(record + kOffObjectId) != objectId) return true;
    found = offset;
    return false;
  });
  return index.used == 0 ? std::nullopt : found;
}

std::optional<std::size_t> StoreRecord(CacheIndex& index, const CacheRecordFixed& fixed, std::string_view url,
                                       std::string_view etag, std::int32_t bodyLength) {
  std::size_t length = RecordLengthFor(url, etag);
  if (length == 0) return std::nullopt;
  std::optional<std::size_t> existing = FindRecordByUrl(index, url);
  std::size_t offset;
  // In place only when the old record has exactly the room the new one needs,
  // so the records after it stay where they are.
  if (existing && RecordEtag(index.block.data() + *existing) == etag &&
      GetU16(index.block.data() + *existing) == length) {
    offset = *existing;
  } else {
    if (existing) MarkDeleted(index.block.data() + *existing);
    offset = ReserveRecord(index, length);
  }
  CacheRecordFixed f = fixed;
  f.recordLength = static_cast<std::uint16_t>(length);
  f.touched = 1;
  f.diskSize = 0;
  f.bodyLength = bodyLength;
  std::uint8_t* record = index.block.data() + offset;
  EncodeRecordFixed(f, record);
  std::uint8_t* text = record + kRecordFixedSize;
  std::memcpy(text, url.data(), url.size());
  text[url.size()] = 0;
  if (!etag.empty()) std::memcpy(text + url.size() + 1, etag.data(), etag.size());
  text[url.size() + 1 + etag.size()] = 0;
  index.dirty = true;
  return offset;
}

void RefreshRecord(CacheIndex& index, std::size_t offset, const RevalidationHeaders& headers, std::int64_t now) {
  std::uint8_t* record = index.block.data() + offset;
  if (headers.dateHeader) PutTime(record, kDateHeader, *headers.dateHeader);
  if (headers.ageHeader) PutI32(record + kOffAgeHeader, *headers.ageHeader);
  if (headers.expires) PutTime(record, kExpires, *headers.expires);
  if (headers.lastModified) PutTime(record, kLastModified, *headers.lastModified);
  PutTime(record, kReceived, now);
  PutTime(record, kLastUsed, now);
  record[kOffTouched] = 1;
  index.dirty = true;
}

void MarkRecordHit(CacheIndex& index, std::size_t offset, std::int64_t now) {
  std::uint8_t* record = index.block.data() + offset;
  PutTime(record, kLastUsed, now);
  record[kOffTouched] = 1;
  index.dirty = true;
}

bool DeleteRecordByUrl(CacheIndex& index, std::string_view url) {
  std::optional<std::size_t> offset = FindRecordByUrl(index, url);
  if (!offset) return false;
  MarkDeleted(index.block.data() + *offset);
  index.dirty = true;
  return true;
}

void MarkDiskSizesUnknown(CacheIndex& index) {
  WalkIndex(index, [&](std::size_t offset) {
    PutI32(index.block.data() + offset + kOffDiskSize, -1);
    return true;
  });
}

std::int64_t EvictLeastRecentlyUsed(CacheIndex& index, std::int64_t total, std::int64_t cap) {
  if (total <= cap) return total;
  struct Candidate {
    std::int64_t lastUsed;
    std::size_t offset;
  };
  // Only records whose files the scan counted: taking off anything else would
  // not bring the total down (and a DiskSize of -1 would raise it).
  std::vector<Candidate> candidates;
  if (WalkIndex(index, [&](std::size_t offset) {
        const std::uint8_t* record = index.block.data() + offset;
        if (GetI32(record + kOffDiskSize) > 0) candidates.push_back({GetTime(record, kLastUsed), offset});
        return true;
      }) == WalkEnd::Damaged)
    return total;
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.lastUsed < b.lastUsed; });
  std::int64_t target = cap - cap / 20;
  for (const Candidate& c : candidates) {
    if (total <= target) break;
    std::uint8_t* record = index.block.data() + c.offset;
    total -= GetI32(record + kOffDiskSize);
    MarkDeleted(record);
    index.dirty = true;
  }
  return total;
}

void CompactIndex(CacheIndex& index, std::int64_t now, std::int64_t maxAgeSeconds) {
  std::size_t offset = 0;
  while (offset < index.used) {
    std::size_t length = SoundRecordLength(index.block.data(), index.used, offset);
    if (length == 0) {
      MarkIndexDamaged(index);
      return;
    }
    std::uint8_t* record = index.block.data() + offset;
    bool keep =
        IsLive(record) && GetI32(record + kOffDiskSize) != -1 && now - GetTime(record, kLastUsed) <= maxAgeSeconds;
    if (keep) {
      offset += length;
      continue;
    }
    std::memmove(record, record + length, index.used - offset - length);
    index.used -= length;
    index.dirty = true;
  }
}

CacheCounts CountRecords(CacheIndex& index) {
  CacheCounts counts;
  WalkIndex(index, [&](std::size_t offset) {
    const std::uint8_t* record = index.block.data() + offset;
    if (IsLive(record)) {
      ++counts.objects;
      counts.bodyBytes += GetI32(record + kOffBodyLength);
    }
    return true;
  });
  return index.used == 0 ? CacheCounts{} : counts;
}

std::vector<CacheListing> ListSnapshot(const std::uint8_t* bytes, std::size_t length) {
  std::vector<CacheListing> listing;
  WalkRecords(bytes, length, [&](std::size_t offset) {
    const std::uint8_t* record = bytes + offset;
    if (IsLive(record))
      listing.push_back({DecodeRecordFixed(record), std::string(RecordUrl(record)), std::string(RecordEtag(record))});
    return true;
  });
  return listing;
}

std::int32_t IndexChecksum(const std::uint8_t* bytes, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i)
    sum += static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(bytes[i])));
  return static_cast<std::int32_t>(sum);
}

std::optional<std::span<const std::uint8_t>> ParseIndexFile(const std::uint8_t* data, std::size_t length) {
  if (length < kIndexFileHeaderSize) return std::nullopt;
  if (GetI32(data + 80) != kIndexFormatNumber) return std::nullopt;
  std::size_t bodyLength = length - kIndexFileHeaderSize;
  if (bodyLength > kMaxIndexBody) return std::nullopt;
  const std::uint8_t* body = data + kIndexFileHeaderSize;
  if (IndexChecksum(body, bodyLength) != GetI32(data + 92)) return std::nullopt;
  if (WalkRecords(body, bodyLength, [](std::size_t) { return true; }) == WalkEnd::Damaged) return std::nullopt;
  return std::span<const std::uint8_t>(body, bodyLength);
}

bool LoadIndexFromBytes(CacheIndex& index, const std::uint8_t* data, std::size_t length) {
  ResetIndex(index);
  std::optional<std::span<const std::uint8_t>> body = ParseIndexFile(data, length);
  if (!body) {
    index.dirty = true;
    return false;
  }
  std::size_t offset = ReserveRecord(index, body->size());
  if (!body->empty()) std::memcpy(index.block.data() + offset, body->data(), body->size());
  // What the reserved bytes of the file hold is not ours to read.
  std::uint8_t* block = index.block.data();
  WalkRecords(block, index.used, [&](std::size_t at) {
    for (TimeField field : kTimeFields) PutTime(block + at, field, GetI32(block + at + field.low));
    return true;
  });
  return true;
}

std::vector<std::uint8_t> BuildIndexFile(const std::uint8_t* block, std::size_t used, double saveTime) {
  std::vector<std::uint8_t> file(kIndexFileHeaderSize + used, 0);
  std::memcpy(file.data(), kIndexFileText, std::strlen(kIndexFileText));
  PutI32(file.data() + 80, kIndexFormatNumber);
  std::uint64_t timeBits = std::bit_cast<std::uint64_t>(saveTime);
  PutU32(file.data() + 84, static_cast<std::uint32_t>(timeBits));
  PutU32(file.data() + 88, static_cast<std::uint32_t>(timeBits >> 32));
  std::uint8_t* body = file.data() + kIndexFileHeaderSize;
  if (used) std::memcpy(body, block, used);
  WalkRecords(body, used, [&](std::size_t at) {
    std::uint8_t* record = body + at;
    for (TimeField field : kTimeFields)
      PutI32(record + field.low, static_cast<std::int32_t>(std::clamp<std::int64_t>(GetTime(record, field), INT32_MIN,
                                                                                    INT32_MAX)));
    std::memset(record + kOffReserved, 0, kRecordFixedSize - kOffReserved);
    return true;
  });
  PutI32(file.data() + 92, IndexChecksum(body, used));
  return file;
}

std::optional<std::uint32_t> ParseObjectFileName(std::string_view name) {
  if (name.size() != 11 || name.substr(8) != ".ch") return std::nullopt;
  std::uint32_t id = 0;
  for (char c : name.substr(0, 8)) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    id = (id << 4) | static_cast<std::uint32_t>(digit);
  }
  return id;
}

std::string ObjectFileBaseName(std::uint32_t objectId) {
  char name[16];
  std::snprintf(name, sizeof(name), "%08X.ch", static_cast<unsigned>(objectId));
  return name;
}

std::optional<std::size_t> FindStoredBodyStart(const std::uint8_t* data, std::size_t length) {
  for (std::size_t i = 0; i + 1 < length; ++i) {
    if (data[i] != '\n') continue;
    if (data[i + 1] == '\n') return i + 2;
    if (data[i + 1] != '\r') continue;
    // A CR that no LF follows still ends the empty line.
    return i + 2 < length && data[i + 2] == '\n' ? i + 3 : i + 2;
  }
  return std::nullopt;
}

std::optional<std::string> ViewerExtension(std::string_view url) {
  std::string_view path = url.substr(0, url.find('?'));
  if (path.size() >= 260) return std::nullopt;
  std::size_t slash = path.rfind('/');
  std::string_view segment = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::size_t dot = segment.find('.');
  if (dot == std::string_view::npos) return std::string(".cgi");
  return std::string(segment.substr(dot));
}

}  // namespace brindlex
