// What the worker loop and the relay primitives ask of the protocol a
// connection speaks. The loop lives below every protocol: each protocol folder
// fills a table for its services, and the program registers the tables at
// start-up, so nothing here includes a protocol.
//
// Threads: registered on the main thread before the listener starts; read by
// workers afterwards without a lock (the table never changes while they run).
#pragma once

#include <cstdint>

namespace brindlex {

struct ConnectionRecord;

// What the client's end of input (a half-close) means for the connection.
enum class InputEnd : std::uint8_t {
  kConnectionEnds,  // the request is incomplete: nothing more will come of it
  kAnswerFollows,   // the request is complete: its answer is still delivered
  kPassedOn,        // as kAnswerFollows, and the server hears the end too
};

struct ProtocolHandlers {
  // Once, before the loop, for a service that opens its connection itself
  // (port mapping: identifying, resolving, connecting). Returns false when
  // the connection ends there. Unset: nothing to do.
  bool (*start)(ConnectionRecord&) = nullptr;
  // Client bytes are waiting in clientIn. Returns false while the protocol
  // needs more of them before anything can happen (an incomplete request
  // head): the rest of the worker's pass is skipped.
  bool (*clientInput)(ConnectionRecord&) = nullptr;
  // Server bytes are waiting in serverIn.
  void (*serverInput)(ConnectionRecord&) = nullptr;
  // Every pass, before the wait: bytes the protocol produces itself (a file
  // streamed to the client).
  void (*beforeWait)(ConnectionRecord&) = nullptr;
  // The server's answer ended cleanly and everything it sent has been passed
  // on (clean), or the connection ends with the answer incomplete.
  void (*answerEnded)(ConnectionRecord&, bool clean) = nullptr;
  // How many of `movable` bytes of serverIn may go on to the client now; the
  // protocol may read them on the way, hold some back or drop them (shifting
  // serverIn itself). Unset: all of them.
  int (*serverBytesToMove)(ConnectionRecord&, char* source, int& sourceLength, int movable) = nullptr;
  // How many of the server's next `room` bytes may bypass the protocol
  // through the kernel pipe (0: none; they must come through serverIn).
  // Unset: none.
  int (*bypassRoom)(const ConnectionRecord&, int room) = nullptr;
  // `n` bytes went through the pipe.
  void (*bypassed)(ConnectionRecord&, int n) = nullptr;
  // The client ended its input; what it sent before has been through
  // clientInput or still waits in clientIn. Unset: the connection ends.
  InputEnd (*clientInputEnded)(const ConnectionRecord&) = nullptr;
  // The one inbound connection a listening server socket waited for has
  // been accepted and is the server socket now.
  void (*serverAccepted)(ConnectionRecord&) = nullptr;
  // auxSocket is readable. Unset: what arrives there is dropped.
  void (*auxInput)(ConnectionRecord&) = nullptr;
  // The server socket is readable while auxSocket is open: it is a datagram
  // socket, which the protocol reads itself. Unset: read as a stream.
  void (*serverDatagrams)(ConnectionRecord&) = nullptr;
};

// The handlers of a service; a service nobody registered relays nothing and
// discards what its client sends.
const ProtocolHandlers& HandlersOf(std::uint8_t service);
void RegisterProtocolHandlers(std::uint8_t service, const ProtocolHandlers& handlers);

}  // namespace brindlex
