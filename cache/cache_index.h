// The cache index as bytes: the CacheIndexRecord layout, the flat block of
// records laid end to end, the walks over it, and the index file cache.lst
// that holds a copy of the block behind a 256-byte header.
//
// Everything here is pure: functions work on a CacheIndex or on a caller's
// bytes and never touch a lock, a file or the clock. The shared index, its
// lock and the files live in cache_store.h.
//
// Damage: the block comes from disk, so no walk trusts a record. A record is
// sound when its RecordLength is at least kRecordMinLength, it ends inside the
// used length, and (unless deleted) its Url and ETag both end with a NUL
// inside the record. A walk of a CacheIndex that meets an unsound record
// empties the index (used length 0, dirty) and stops; a walk of a caller's
// snapshot only stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brindlex {

// --- Record layout ----------------------------------------------------------

// Byte offsets inside a record; integers are little-endian.
inline constexpr std::size_t kOffRecordLength = 0;     // u16
inline constexpr std::size_t kOffObjectId = 2;         // u32
inline constexpr std::size_t kOffLastUsed = 6;         // i32
inline constexpr std::size_t kOffReceived = 10;        // i32
inline constexpr std::size_t kOffDateHeader = 14;      // i32
inline constexpr std::size_t kOffAgeHeader = 18;       // i32
inline constexpr std::size_t kOffMaxAge = 22;          // i32
inline constexpr std::size_t kOffExpires = 26;         // i32
inline constexpr std::size_t kOffLastModified = 30;    // i32
inline constexpr std::size_t kOffMustRevalidate = 34;  // u8
inline constexpr std::size_t kOffHeaderLength = 35;    // u16
inline constexpr std::size_t kOffTouched = 37;         // u8
inline constexpr std::size_t kOffDiskSize = 38;        // i32
inline constexpr std::size_t kOffBodyLength = 42;      // i32
inline constexpr std::size_t kOffReserved = 46;        // 28 zero bytes in the file
inline constexpr std::size_t kRecordFixedSize = 74;    // Url starts here

// Times are 64-bit seconds in memory, so they stay right after 2038, while
// the file keeps its 32-bit fields. In memory the high halves of the five
// times live in the reserved bytes (i32 each); the file never carries them:
// saving writes each time clamped to 32 bits with the reserved bytes zero,
// loading widens the 32-bit values again. A time past 2038-01-19 03:14:07
// UTC is saved as that second (one before 1901-12-13 20:45:52 as that one):
// a reloaded object then looks received, used, dated and expiring no later
// than that, so it is revalidated or aged out sooner, never served longer.
inline constexpr std::size_t kOffLastUsedHigh = 46;
inline constexpr std::size_t kOffReceivedHigh = 50;
inline constexpr std::size_t kOffDateHeaderHigh = 54;
inline constexpr std::size_t kOffExpiresHigh = 58;
inline constexpr std::size_t kOffLastModifiedHigh = 62;
// The fixed part plus the NULs of an empty Url and an empty ETag.
inline constexpr std::size_t kRecordMinLength = kRecordFixedSize + 2;
inline constexpr std::size_t kRecordMaxLength = 0xFFFF;

inline constexpr std::size_t kInitialIndexCapacity = 16000;

// The fixed 74 bytes of a record, decoded. The defaults are those of a
// response that carried none of the headers.
struct CacheRecordFixed {
  std::uint16_t recordLength = 0;
  std::uint32_t objectId = 0;
  std::int64_t lastUsed = 0;
  std::int64_t received = 0;
  std::int64_t dateHeader = -1;
  std::int32_t ageHeader = -1;
  std::int32_t maxAge = -1;
  std::int64_t expires = -1;
  std::int64_t lastModified = 0;
  std::uint8_t mustRevalidate = 0;
  std::uint16_t headerLength = 0;
  std::uint8_t touched = 0;
  std::int32_t diskSize = 0;
  std::int32_t bodyLength = 0;
};

// Reads / writes the fixed part at `record` (kRecordFixedSize bytes, in the
// memory form: the high halves of the times in the reserved bytes, the rest
// of them zero).
CacheRecordFixed DecodeRecordFixed(const std::uint8_t* record);
void EncodeRecordFixed(const CacheRecordFixed& fixed, std::uint8_t* record);

// RecordLength of a record holding this Url and ETag; 0 when they cannot be
// stored (empty Url, a NUL inside either, or longer than a u16 allows).
std::size_t RecordLengthFor(std::string_view url, std::string_view etag);

// --- The block ----------------------------------------------------------------

// Capacity is block.size(); bytes past `used` are spare room.
struct CacheIndex {
  std::vector<std::uint8_t> block = std::vector<std::uint8_t>(kInitialIndexCapacity);
  std::size_t used = 0;
  bool dirty = false;
};

// Back to an empty block of the initial capacity, not dirty.
void ResetIndex(CacheIndex& index);
// Empties the index because a walk found it damaged.
void MarkIndexDamaged(CacheIndex& index);

// Grows the used length by n zeroed bytes and returns their offset. When the
// block is full it is reallocated to used + n + a tenth of the old capacity.
std::size_t ReserveRecord(CacheIndex& index, std::size_t n);
// Reallocates a block that is more than a fifth empty down to used + 10 %,
// never below the initial capacity.
void ShrinkIndex(CacheIndex& index);

// The Url and ETag of a sound record (views into the block).
std::string_view RecordUrl(const std::uint8_t* record);
std::string_view RecordEtag(const std::uint8_t* record);

enum class WalkEnd { Finished, Stopped, Damaged };
// Calls visit(offset) for every sound record from the start until visit
// returns false (Stopped), the used length is reached (Finished), or an
// unsound record is met (Damaged, nothing else happens). Reads only
// bytes[0, used).
WalkEnd WalkRecords(const std::uint8_t* bytes, std::size_t used, const std::function<bool(std::size_t offset)>& visit);
// The same over an index; Damaged also empties it.
WalkEnd WalkIndex(CacheIndex& index, const std::function<bool(std::size_t offset)>& visit);

// The first record whose Url equals `url` exactly; deleted records never match.
std::optional<std::size_t> FindRecordByUrl(CacheIndex& index, std::string_view url);
// The first live record with this ObjectId.
std::optional<std::size_t> FindLiveRecordById(CacheIndex& index, std::uint32_t objectId);

// Adds or replaces the record of a downloaded object: a live record of the
// same Url and ETag is overwritten in place; one with another ETag is marked
// deleted and a new record is added at the end. Sets RecordLength, Touched,
// BodyLength and dirty; DiskSize starts at 0. Returns the record's offset, or
// nullopt (index unchanged) when Url and ETag cannot be stored.
std::optional<std::size_t> StoreRecord(CacheIndex& index, const CacheRecordFixed& fixed, std::string_view url,
                                       std::string_view etag, std::int32_t bodyLength);

// Header values of a 304 answer; an absent header leaves its field alone.
struct RevalidationHeaders {
  std::optional<std::int64_t> dateHeader;
  std::optional<std::int32_t> ageHeader;
  std::optional<std::int64_t> expires;
  std::optional<std::int64_t> lastModified;
};
void RefreshRecord(CacheIndex& index, std::size_t offset, const RevalidationHeaders& headers, std::int64_t now);
void MarkRecordHit(CacheIndex& index, std::size_t offset, std::int64_t now);
// Marks the record of `url` deleted (first Url byte 0). False when absent.
bool DeleteRecordByUrl(CacheIndex& index, std::string_view url);

// Start of a folder scan: every record's DiskSize := -1.
void MarkDiskSizesUnknown(CacheIndex& index);
// Size cap: while `total` exceeds 95 % of `cap`, the least recently used
// record whose file the scan counted goes (marked deleted, its DiskSize taken
// off the total). Nothing happens unless total > cap. Returns the new total.
std::int64_t EvictLeastRecentlyUsed(CacheIndex& index, std::int64_t total, std::int64_t cap);
// Removes deleted records, records whose file the last scan did not find, and
// records unused for longer than maxAgeSeconds.
void CompactIndex(CacheIndex& index, std::int64_t now, std::int64_t maxAgeSeconds);

struct CacheCounts {
  std::int64_t objects = 0;
  std::int64_t bodyBytes = 0;
};
CacheCounts CountRecords(CacheIndex& index);

// One live record of a snapshot, copied out.
struct CacheListing {
  CacheRecordFixed fixed;
  std::string url;
  std::string etag;
};
// The live records of a snapshot of the block, stopping at damage.
std::vector<CacheListing> ListSnapshot(const std::uint8_t* bytes, std::size_t length);

// --- The index file -----------------------------------------------------------

inline constexpr std::size_t kIndexFileHeaderSize = 256;
inline constexpr std::int32_t kIndexFormatNumber = 280;
inline constexpr const char* kIndexFileText = "It is CachList a file for Brindlex V2.8";
// Largest body accepted from disk: the used length is a 32-bit number.
inline constexpr std::size_t kMaxIndexBody = 0x7FFFFFFF;

// The sum of the bytes, each taken as a signed 8-bit value, in 32-bit
// arithmetic that wraps.
std::int32_t IndexChecksum(const std::uint8_t* bytes, std::size_t length);

// The index block held by a complete index file, or nullopt when the file is
// not accepted: shorter than its header, another format number, a checksum
// that differs, a body too long, or a record that is not sound.
std::optional<std::span<const std::uint8_t>> ParseIndexFile(const std::uint8_t* data, std::size_t length);
// Replaces the index by the block of an index file, its times widened to 64
// bits. An unaccepted file leaves it empty and dirty, so that the next save
// writes an empty index. Returns whether the file was accepted.
bool LoadIndexFromBytes(CacheIndex& index, const std::uint8_t* data, std::size_t length);

// Header and block of an index file: the block of the index (memory form)
// with its times clamped to 32 bits and the reserved bytes zero.
std::vector<std::uint8_t> BuildIndexFile(const std::uint8_t* block, std::size_t used, double saveTime);

// --- Object files ---------------------------------------------------------------

// The object ID of a name of the form "%.8X.ch" (eight upper-case hex
// digits); nullopt for any other name.
std::optional<std::uint32_t> ParseObjectFileName(std::string_view name);
// "%.8X.ch"
std::string ObjectFileBaseName(std::uint32_t objectId);
// Where the body starts in an object file: after the first line feed that is
// followed by CR or LF, and that empty line. nullopt without one.
std::optional<std::size_t> FindStoredBodyStart(const std::uint8_t* data, std::size_t length);
// The extension of a viewer copy for a Url: from the first '.' of the last
// path segment of the part before '?', else ".cgi". nullopt when that part is
// 260 characters or longer.
std::optional<std::string> ViewerExtension(std::string_view url);

}  // namespace brindlex
