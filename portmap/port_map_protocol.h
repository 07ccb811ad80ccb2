// Mapped connections as the worker loop sees them. A TCP rule's connection
// (service 7) is identified (the rule's user, or by address), checked,
// connected to the rule's destination and relayed both ways. A UDP rule's
// conversation (service 8) gets the client's datagrams from the listener,
// which took them from the rule's socket, sends each on from a socket of
// its own and answers from the rule's socket to the port of the client's
// latest datagram; it ends after kConversationIdleMs without a datagram
// either way. Whatever fails ends the connection without a word to the client.
//
// Register once on the main thread before the listener starts.
#pragma once

#include <cstdint>

namespace brindlex {

struct ConnectionRecord;

void RegisterPortMapProtocol();

// The idle test of a conversation at counter value `now`: ends it (no more
// datagrams are handed to it, serverFinished) once ConversationIdleLocked
// says it has gone quiet. Returns whether it ended. Worker thread of the record; takes the accounts lock.
bool EndIdleConversation(ConnectionRecord& record, std::int64_t now);

}  // namespace brindlex
