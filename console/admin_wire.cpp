#include "console/admin_wire.h"

#include <bit>
#include <limits>

namespace brindlex {

namespace {

template <class Unsigned>
void AppendLittleEndian(std::string& out, Unsigned value) {
  for (std::size_t i = 0; i < sizeof(Unsigned); ++i) {
    out.push_back(static_cast<char>(static_cast<unsigned char>(value >> (8 * i))));
  }
}

template <class Unsigned>
Unsigned ReadLittleEndian(const unsigned char* bytes) {
  Unsigned value = 0;
  for (std::size_t i = 0; i < sizeof(Unsigned); ++i) value |= static_cast<Unsigned>(bytes[i]) << (8 * i);
  return value;
}

}  // namespace

void WireWriter::PutU8(std::uint8_t value) { out_.push_back(static_cast<char>(value)); }
void WireWriter::PutU16(std::uint16_t value) { AppendLittleEndian(out_, value); }
void WireWriter::PutU32(std::uint32_t value) { AppendLittleEndian(out_, value); }
void WireWriter::PutU64(std::uint64_t value) { AppendLittleEndian(out_, value); }
void WireWriter::PutDouble(double value) { PutU64(std::bit_cast<std::uint64_t>(value)); }

void WireWriter::PutString(std::string_view text) {
  PutCount(text.size());
  out_.append(text);
}

void WireWriter::PutCount(std::size_t count) {
  // A longer list would be cut into a payload that decodes wrong: clamp the
  // count so that the reader runs out of bytes and refuses it instead.
  PutU32(count > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                           : static_cast<std::uint32_t>(count));
}

const unsigned char* WireReader::Take(std::size_t size) {
  if (!ok_ || in_.size() - pos_ < size) {
    ok_ = false;
    return nullptr;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(in_.data()) + pos_;
  pos_ += size;
  return bytes;
}

bool WireReader::GetU8(std::uint8_t& value) {
  const unsigned char* bytes = Take(1);
  if (bytes) value = bytes[0];
  return bytes != nullptr;
}

bool WireReader::GetU16(std::uint16_t& value) {
  const unsigned char* bytes = Take(2);
  if (bytes) value = ReadLittleEndian<std::uint16_t>(bytes);
  return bytes != nullptr;
}

bool WireReader::GetU32(std::uint32_t& value) {
  const unsigned char* bytes = Take(4);
  if (bytes) value = ReadLittleEndian<std::uint32_t>(bytes);
  return bytes != nullptr;
}

bool WireReader::GetU64(std::uint64_t& value) {
  const unsigned char* bytes = Take(8);
  if (bytes) value = ReadLittleEndian<std::uint64_t>(bytes);
  return bytes != nullptr;
}

bool WireReader::GetI32(std::int32_t& value) {
  std::uint32_t raw = 0;
  if (!GetU32(raw)) return false;
  value = static_cast<std::int32_t>(raw);
  return true;
}

bool WireReader::GetI64(std::int64_t& value) {
  std::uint64_t raw = 0;
  if (!GetU64(raw)) return false;
  value = static_cast<std::int64_t>(raw);
  return true;
}

bool WireReader::GetBool(bool& value) {
  std::uint8_t raw = 0;
  if (!GetU8(raw)) return false;
  if (raw > 1) return Fail();
  value = raw == 1;
  return true;
}

bool WireReader::GetDouble(double& value) {
  std::uint64_t raw = 0;
  if (!GetU64(raw)) return false;
  value = std::bit_cast<double>(raw);
  return true;
}

bool WireReader::GetString(std::string& text, std::size_t maxBytes) {
  std::uint32_t size = 0;
  if (!GetU32(size)) return false;
  if (size > maxBytes) return Fail();
  const unsigned char* bytes = Take(size);
  if (!bytes) return false;
  text.assign(reinterpret_cast<const char*>(bytes), size);
  return true;
}

bool WireReader::GetCount(std::uint32_t& count, std::size_t minElementBytes) {
  std::uint32_t raw = 0;
  if (!GetU32(raw)) return false;
  if (minElementBytes == 0) minElementBytes = 1;
  if (raw > Left() / minElementBytes) return Fail();
  count = raw;
  return true;
}

bool WireReader::Fail() {
  ok_ = false;
  return false;
}

}  // namespace brindlex
