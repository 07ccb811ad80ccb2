// Transfers between a connection record and its remote side (origin server,
// parent proxy or mapped host): every byte that leaves or enters the gateway
// toward the Internet passes here, so counting and throttling belong here too.
// Worker thread of the record only.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace brindlex {

struct ConnectionRecord;

// Reads at most `size` bytes of the server socket into wherever the caller
// keeps them; returns what recv would.
using ServerReader = ssize_t (*)(ConnectionRecord& record, size_t size);

// Reads at most `room` bytes with `read`, within the user's speed limits, and
// counts them. Returns how many arrived; 0 when none did (nothing pending, or
// end of stream or an error, which are marked on the record as below).
int ReceiveCounted(ConnectionRecord& record, int room, ServerReader read);

// Called when the server socket is readable: fills serverIn. End of stream
// sets serverEof and serverFinished; an error sets serverFinished.
void ReceiveFromServer(ConnectionRecord& record);
// Called when the server socket is writable: sends from serverOut. An error
// drops what was queued and sets serverFinished.
void SendToServer(ConnectionRecord& record);

}  // namespace brindlex
