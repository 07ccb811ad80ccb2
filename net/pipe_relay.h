// The server-to-client relay through a kernel pipe. Bytes nobody in the
// gateway has to read (a CONNECT tunnel, the body of a response that is not
// being stored) move from the server socket into a pipe and on to the client
// with splice, never copied through serverIn and clientOut. The rest is as on
// the buffered path: one piece in flight, nothing more is read from the
// server until the client has taken it (a slow client still throttles the
// server), the same counting and speed limits. The relay of a large transfer
// otherwise spends most of its time copying.
//
// Worker thread of the record only.
#pragma once

namespace brindlex {

struct ConnectionRecord;

// True when the server's next bytes may take the pipe: the protocol lets them
// bypass it (a tunnel, or a response past its head with no object being
// written), a full buffer's worth has come from the server, and nothing is
// queued on the buffered path that they would overtake.
bool PipeRelayUsable(const ConnectionRecord& record);

// The server socket is readable and the pipe usable: opens the pipe on first
// use, reads what the speed limits allow into it, counts it and passes it on
// to the client at once as far as the client takes it. Returns false when no
// pipe can be had (descriptors exhausted); the caller then reads into serverIn.
bool ReceiveIntoPipe(ConnectionRecord& record);

// The client socket is writable: sends what the pipe holds.
void SendFromPipe(ConnectionRecord& record);

// The client is gone: what the pipe holds is dropped with it.
void CloseRelayPipe(ConnectionRecord& record);

}  // namespace brindlex
