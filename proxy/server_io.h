// Transfers between a connection record and its remote side (origin server,
// parent proxy or mapped host): every byte that leaves or enters the gateway
// toward the Internet passes here, so counting and throttling belong here too.
// Worker thread of the record only.
#pragma once

namespace brindlex {

struct ConnectionRecord;

// Called when the server socket is readable: fills serverIn. End of stream
// sets serverEof and serverFinished; an error sets serverFinished.
void ReceiveFromServer(ConnectionRecord& record);
// Called when the server socket is writable: sends from serverOut. An error
// drops what was queued and sets serverFinished.
void SendToServer(ConnectionRecord& record);

}  // namespace brindlex
