// The byte form of the administration channel's payloads: fixed-width
// little-endian integers, reals as their 64 bits, strings and byte strings as
// a u32 length and the bytes, lists as a u32 count and the elements.
//
// The reader is bounded: it never looks past the view it was given. Every Get
// returns false on truncated or oversized input, and once a Get has failed
// the reader stays failed, so a decoder can run its fields one after another
// and look at the outcome once. A count that the bytes left cannot hold is
// refused before anything is allocated for it.
//
// Threads: a writer or reader belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brindlex {

class WireWriter {
 public:
  void PutU8(std::uint8_t value);
  void PutU16(std::uint16_t value);
  void PutU32(std::uint32_t value);
  void PutU64(std::uint64_t value);
  void PutI32(std::int32_t value) { PutU32(static_cast<std::uint32_t>(value)); }
  void PutI64(std::int64_t value) { PutU64(static_cast<std::uint64_t>(value)); }
  void PutBool(bool value) { PutU8(value ? 1 : 0); }
  void PutDouble(double value);
  // A u32 length and the bytes; the same form carries text and binary data.
  void PutString(std::string_view text);
  // The count of a list whose elements follow. A list too long for 32 bits
  // never crosses the channel: the caller bounds its lists far below that.
  void PutCount(std::size_t count);

  const std::string& Data() const { return out_; }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

class WireReader {
 public:
  explicit WireReader(std::string_view in) : in_(in) {}

  bool GetU8(std::uint8_t& value);
  bool GetU16(std::uint16_t& value);
  bool GetU32(std::uint32_t& value);
  bool GetU64(std::uint64_t& value);
  bool GetI32(std::int32_t& value);
  bool GetI64(std::int64_t& value);
  // Only 0 and 1 are booleans; any other byte fails the reader.
  bool GetBool(bool& value);
  bool GetDouble(double& value);
  // Fails when the length is more than the bytes left or more than maxBytes.
  bool GetString(std::string& text, std::size_t maxBytes = SIZE_MAX);
  // A list's count; fails unless `count` elements of at least minElementBytes
  // each (1 at the least) fit in the bytes left.
  bool GetCount(std::uint32_t& count, std::size_t minElementBytes);

  // Marks the reader failed (a decoder's own check refused a value).
  bool Fail();
  bool Ok() const { return ok_; }
  std::size_t Left() const { return ok_ ? in_.size() - pos_ : 0; }
  // Ok and every byte consumed: what a whole payload must end as.
  bool Done() const { return ok_ && pos_ == in_.size(); }

 private:
  // The next `size` bytes, or nullptr (and failed) when fewer are left.
  const unsigned char* Take(std::size_t size);

  std::string_view in_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace brindlex
