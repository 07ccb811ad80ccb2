// The byte form of every record that crosses ConsoleEngine, for the calls and
// replies of the administration channel: a Put that appends a record to a
// WireWriter and a Get that reads it back from a WireReader.
//
// A Get reads into the record it is given and returns false (the reader then
// failed) on truncated input, on a boolean that is not 0 or 1, and on an enum
// value outside its range. Fields that are no stored data of a record do not
// cross: a port mapping's socket, a group's console state (its period totals,
// speed history and view flags).
//
// Encode and Decode pack a whole payload; Decode refuses a payload with bytes
// left over after its last value.
//
// Threads: pure functions, any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/admin_wire.h"
#include "console/console_engine.h"
#include "console/gateway_figures.h"
#include "core/counter_rebuild.h"

namespace brindlex {

// The fewest bytes one element of a list takes, so that a count the payload
// cannot hold is refused before the list grows.
template <class T>
inline constexpr std::size_t kWireMinBytes = 1;
template <>
inline constexpr std::size_t kWireMinBytes<std::uint16_t> = 2;
template <>
inline constexpr std::size_t kWireMinBytes<std::uint32_t> = 4;
template <>
inline constexpr std::size_t kWireMinBytes<std::int32_t> = 4;
template <>
inline constexpr std::size_t kWireMinBytes<std::uint64_t> = 8;
template <>
inline constexpr std::size_t kWireMinBytes<std::int64_t> = 8;
template <>
inline constexpr std::size_t kWireMinBytes<double> = 8;
template <>
inline constexpr std::size_t kWireMinBytes<std::string> = 4;

// Scalars.
inline void Put(WireWriter& w, bool v) { w.PutBool(v); }
inline void Put(WireWriter& w, std::uint8_t v) { w.PutU8(v); }
inline void Put(WireWriter& w, std::uint16_t v) { w.PutU16(v); }
inline void Put(WireWriter& w, std::uint32_t v) { w.PutU32(v); }
inline void Put(WireWriter& w, std::uint64_t v) { w.PutU64(v); }
inline void Put(WireWriter& w, std::int32_t v) { w.PutI32(v); }
inline void Put(WireWriter& w, std::int64_t v) { w.PutI64(v); }
inline void Put(WireWriter& w, double v) { w.PutDouble(v); }
inline void Put(WireWriter& w, const std::string& v) { w.PutString(v); }
// A literal would otherwise go out as a boolean.
void Put(WireWriter& w, const char* v) = delete;
inline bool Get(WireReader& r, bool& v) { return r.GetBool(v); }
inline bool Get(WireReader& r, std::uint8_t& v) { return r.GetU8(v); }
inline bool Get(WireReader& r, std::uint16_t& v) { return r.GetU16(v); }
inline bool Get(WireReader& r, std::uint32_t& v) { return r.GetU32(v); }
inline bool Get(WireReader& r, std::uint64_t& v) { return r.GetU64(v); }
inline bool Get(WireReader& r, std::int32_t& v) { return r.GetI32(v); }
inline bool Get(WireReader& r, std::int64_t& v) { return r.GetI64(v); }
inline bool Get(WireReader& r, double& v) { return r.GetDouble(v); }
inline bool Get(WireReader& r, std::string& v) { return r.GetString(v); }

// Enums, checked against their range.
void Put(WireWriter& w, RebuildView v);
void Put(WireWriter& w, TreeLineKind v);
void Put(WireWriter& w, SpeedSubject v);
void Put(WireWriter& w, FilterAdditionScope v);
void Put(WireWriter& w, StatisticsSubject v);
void Put(WireWriter& w, StatisticsLevel v);
void Put(WireWriter& w, MailRefusal v);
bool Get(WireReader& r, RebuildView& v);
bool Get(WireReader& r, TreeLineKind& v);
bool Get(WireReader& r, SpeedSubject& v);
bool Get(WireReader& r, FilterAdditionScope& v);
bool Get(WireReader& r, StatisticsSubject& v);
bool Get(WireReader& r, StatisticsLevel& v);
bool Get(WireReader& r, MailRefusal& v);

// Records.
#define BRINDLEX_WIRE_RECORD(Type)        \
  void Put(WireWriter& w, const Type& v); \
  bool Get(WireReader& r, Type& v);
BRINDLEX_WIRE_RECORD(CounterBlock)
BRINDLEX_WIRE_RECORD(ConsoleGroup)
BRINDLEX_WIRE_RECORD(ConsoleLimits)
BRINDLEX_WIRE_RECORD(ConsoleUser)
BRINDLEX_WIRE_RECORD(UsersSnapshot)
BRINDLEX_WIRE_RECORD(ConsoleConnection)
BRINDLEX_WIRE_RECORD(ConsoleUserSession)
BRINDLEX_WIRE_RECORD(ConsoleAddressSession)
BRINDLEX_WIRE_RECORD(ConsoleCacheEntry)
BRINDLEX_WIRE_RECORD(CacheFigures)
BRINDLEX_WIRE_RECORD(StatusFigures)
BRINDLEX_WIRE_RECORD(StatisticsQuery)
BRINDLEX_WIRE_RECORD(StatisticsRow)
BRINDLEX_WIRE_RECORD(ConfigControlValue)
BRINDLEX_WIRE_RECORD(ConfigBox)
BRINDLEX_WIRE_RECORD(ConfigApplyOutcome)
BRINDLEX_WIRE_RECORD(ConfigEditOutcome)
BRINDLEX_WIRE_RECORD(AccessRules)
BRINDLEX_WIRE_RECORD(GroupRecord)
BRINDLEX_WIRE_RECORD(ConsoleUserDraft)
BRINDLEX_WIRE_RECORD(FilterEntry)
BRINDLEX_WIRE_RECORD(ConsoleFilterLists)
BRINDLEX_WIRE_RECORD(ConsoleFilterChoice)
BRINDLEX_WIRE_RECORD(MailDomainRule)
BRINDLEX_WIRE_RECORD(PortMapRule)
BRINDLEX_WIRE_RECORD(UserChoice)
BRINDLEX_WIRE_RECORD(TicketRecord)
BRINDLEX_WIRE_RECORD(ConsoleTicket)
BRINDLEX_WIRE_RECORD(TicketEntry)
BRINDLEX_WIRE_RECORD(EditOutcome)
BRINDLEX_WIRE_RECORD(SubscriptionOutcome)
BRINDLEX_WIRE_RECORD(DialUpPhoneBook)
BRINDLEX_WIRE_RECORD(RebuildProgress)
BRINDLEX_WIRE_RECORD(ServiceCounts)
BRINDLEX_WIRE_RECORD(CounterSnapshot)
BRINDLEX_WIRE_RECORD(ServicePortFigure)
BRINDLEX_WIRE_RECORD(GatewayFigures)
#undef BRINDLEX_WIRE_RECORD

// Lists (a count, then the elements), fixed arrays (the elements alone) and
// optionals (a presence flag, then the value).
template <class T>
void Put(WireWriter& w, const std::vector<T>& v);
template <class T>
bool Get(WireReader& r, std::vector<T>& v);
template <class T, std::size_t N>
void Put(WireWriter& w, const std::array<T, N>& v);
template <class T, std::size_t N>
bool Get(WireReader& r, std::array<T, N>& v);
template <class T>
void Put(WireWriter& w, const std::optional<T>& v);
template <class T>
bool Get(WireReader& r, std::optional<T>& v);

template <class T>
void Put(WireWriter& w, const std::vector<T>& v) {
  w.PutCount(v.size());
  for (const T& element : v) Put(w, element);
}

template <class T>
bool Get(WireReader& r, std::vector<T>& v) {
  std::uint32_t count = 0;
  if (!r.GetCount(count, kWireMinBytes<T>)) return false;
  v.clear();
  // No reserve for the whole count: an element may take far more memory
  // than its bytes on the wire, so the list grows only with what was read.
  for (std::uint32_t i = 0; i < count; ++i) {
    T element{};
    if (!Get(r, element)) return false;
    v.push_back(std::move(element));
  }
  return true;
}

template <class T, std::size_t N>
void Put(WireWriter& w, const std::array<T, N>& v) {
  for (const T& element : v) Put(w, element);
}

template <class T, std::size_t N>
bool Get(WireReader& r, std::array<T, N>& v) {
  for (T& element : v) {
    if (!Get(r, element)) return false;
  }
  return true;
}

template <class T>
void Put(WireWriter& w, const std::optional<T>& v) {
  w.PutBool(v.has_value());
  if (v) Put(w, *v);
}

template <class T>
bool Get(WireReader& r, std::optional<T>& v) {
  bool present = false;
  if (!r.GetBool(present)) return false;
  if (!present) {
    v.reset();
    return true;
  }
  T value{};
  if (!Get(r, value)) return false;
  v = std::move(value);
  return true;
}

template <class... T>
void PutAll(WireWriter& w, const T&... values) {
  (Put(w, values), ...);
}

template <class... T>
bool GetAll(WireReader& r, T&... values) {
  return (Get(r, values) && ...);
}

template <class... T>
std::string Encode(const T&... values) {
  WireWriter w;
  PutAll(w, values...);
  return w.Take();
}

template <class... T>
bool Decode(std::string_view payload, T&... values) {
  WireReader r(payload);
  return GetAll(r, values...) && r.Done();
}

}  // namespace brindlex
