// The reply and relay primitives every protocol handler uses to queue bytes
// for the client and to pass bytes between the two sides of a connection.
//
// Worker thread of the record only.
#pragma once

#include <cstddef>
#include <string_view>

namespace brindlex {

struct ConnectionRecord;

// What may wait for a client before the worker stops reading either side:
// the relays move at most their buffer into it, but replies a handler queues
// (QueueToClient) grow it, and a peer that never reads must not make that
// growth endless. A handler adds at most what one pass of its input brings
// beyond this.
inline constexpr int kClientOutputLimit = 64 * 1024;

// Reply and relay primitives.
void QueueToClient(ConnectionRecord& record, const char* bytes, size_t length);
void QueueToClient(ConnectionRecord& record, std::string_view text);
// Replaces everything queued for the client and discards all of clientIn.
void ReplaceClientOutput(ConnectionRecord& record, std::string_view text);
// Moves what fits into the free room of clientOut (never growing it); the rest
// of the source is shifted down.
void MoveToClient(ConnectionRecord& record, char* source, int& sourceLength);
// Moves what fits into serverOut; the rest of the source is shifted down.
void MoveToServer(ConnectionRecord& record, char* source, int& sourceLength);
// Drops the first `count` bytes (at most all) of clientIn or serverIn; what
// follows them moves to the front.
void DropClientInput(ConnectionRecord& record, size_t count);
void DropServerInput(ConnectionRecord& record, size_t count);

}  // namespace brindlex
