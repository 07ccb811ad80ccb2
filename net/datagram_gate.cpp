#include "net/datagram_gate.h"

#include <algorithm>
#include <limits>

#include "core/accounting.h"
#include "core/connection.h"

namespace brindlex {

namespace {

// One attempt: true when the allowance held the whole datagram. Otherwise the
// part taken is settled as spent, so the allowance is refilled (after the
// end of its period) instead of staying too small for any datagram.
bool TakeWhole(ConnectionRecord& record, int size, bool receiving) {
  TransferGate gate(record);
  int taken = gate.Limit(size, receiving);
  gate.Done(taken);
  return taken >= size;
}

}  // namespace

bool DatagramWithinSpeed(ConnectionRecord& record, std::int64_t size, bool receiving) {
  int whole = static_cast<int>(std::clamp<std::int64_t>(size, 1, std::numeric_limits<int>::max()));
  return TakeWhole(record, whole, receiving) || TakeWhole(record, whole, receiving);
}

}  // namespace brindlex
