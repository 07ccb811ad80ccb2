// The counter block: the five running totals that accounting keeps per user,
// per day, per billing month, per subscription and per shown period.
//
// Money is scaled by 1024 x KbPerMb x 1000 so that charging a single byte at a
// tariff per megabyte stays an integer. A megabyte is 1024 x KbPerMb bytes.
#pragma once

#include <cstdint>

namespace brindlex {

struct CounterBlock {
  std::int64_t timeMs = 0;
  std::int64_t outgoing = 0;  // bytes
  std::int64_t incoming = 0;  // bytes
  std::int64_t money = 0;
  std::int64_t nationalMoney = 0;

  bool operator==(const CounterBlock&) const = default;
};

// Adds every total of `from` to `to` (a day to a month, a log line to a day).
inline void AddCounters(CounterBlock& to, const CounterBlock& from) {
  to.timeMs += from.timeMs;
  to.outgoing += from.outgoing;
  to.incoming += from.incoming;
  to.money += from.money;
  to.nationalMoney += from.nationalMoney;
}

}  // namespace brindlex
