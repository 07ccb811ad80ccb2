// The user's speed limits for a relayed datagram. A TCP relay moves as many
// bytes as the allowance holds and the rest later; a datagram cannot be cut,
// so it moves whole or not at all.
//
// Worker thread of the record only.
#pragma once

#include <cstdint>

namespace brindlex {

struct ConnectionRecord;

// Whether a datagram of `size` bytes may go now, its share taken from the
// limits that apply to the connection (core/accounting.h TransferGate). When
// the current 100 ms period's allowance cannot hold it, what is left of it
// is given up and the datagram waits for the next period's; if a whole
// period's allowance cannot hold it either, it is dropped (false). The
// worker thus waits at most two periods for one datagram, as it waits one
// for a TCP piece that spent the allowance.
bool DatagramWithinSpeed(ConnectionRecord& record, std::int64_t size, bool receiving);

}  // namespace brindlex
