// A user's prepaid subscription as the user record carries it. Opening,
// topping up, charging and testing it are the subscription module's work; this
// header only gives the record its shape.
#pragma once

#include <cstdint>

#include "core/counters.h"

namespace brindlex {

struct TicketRecord {
  bool open = false;        // a subscription exists
  std::int32_t number = 0;  // taken from CurIdTicket
  double openedAt = 0;      // days since 30 December 1899, fraction = time of day
  double changedAt = 0;     // last top-up or edit
  CounterBlock limit;       // amounts granted; 0 = that amount is not limited
  CounterBlock used;        // amounts charged so far

  bool operator==(const TicketRecord&) const = default;
};

}  // namespace brindlex
