// The response side of the HTTP relay and the cache objects it writes: every
// piece of a response in kRelay is read here on its way to the client, so
// that its head decides whether it may be stored (and whether the user may
// have a document that large), and a storable answer is written to a new
// cache object while it is relayed. Also the streaming of a file (a cache hit
// or a web-server file) into the client output, and the end of an object.
//
// Worker thread of the connection only. The cache index lock is taken inside
// the cache store's calls and the accounts lock inside the access check and
// the accounting step; neither is held by the caller nor across socket I/O.
#pragma once

#include <cstdint>

namespace brindlex {

struct ConnectionRecord;

// responseState values.
inline constexpr int kResponseHeadPending = 0;
inline constexpr int kResponseBody = 1;
inline constexpr int kResponseNotStored = -1;
inline constexpr int kResponseRefused = -2;

// One piece of the response that is about to move to the client. While the
// head is incomplete nothing changes unless the server has finished or
// serverIn is full, in which case the answer is relayed as it is and never
// stored. When the head is complete: the cacheability of the answer, the
// document-size check (a refusal answers the client with the restrictions
// page and sets responseState to kResponseRefused), and, for a storable
// answer, a new cache object holding the stored header block and the body
// bytes so far. Body pieces are counted, appended to the object while it
// stays within the per-object cap, and a body that reached its Content-Length
// finishes the server side (serverFinished and serverEof).
void ProcessResponse(ConnectionRecord& record, const char* bytes, int length);

// Response bytes that reached the client without passing ProcessResponse
// (no object is being written): counted into the body, whose declared end
// finishes the server side as above.
void CountPassedResponseBytes(ConnectionRecord& record, std::int64_t n);

// The hook of MoveToClient for kRelay: the first `movable` of the
// sourceLength bytes at `source` fit into the client output and pass
// ProcessResponse. Returns how many may move now: 0 while the head is
// incomplete, 0 for a refused answer, whose bytes are dropped from the source
// (nothing of it reaches the client).
int ResponseBytesToMove(ConnectionRecord& record, char* source, int& sourceLength, int movable);

// Called by the worker before every wait: moves the next piece of readFile
// into the free room of the client output. A short read (end of file) or an
// error closes readFile and sets serverFinished. A cache hit's bytes count as
// served from the cache.
void StreamReadFile(ConnectionRecord& record);

// The server has closed and serverIn is drained: the answer is over, nothing
// more of it is stored; an object being written is closed and indexed when
// its body is complete (exactly its Content-Length; a chunked body through
// its last chunk; without either, whatever came before the close).
void FinishObject(ConnectionRecord& record);

// Closes an object being written without indexing it (the folder scan
// deletes the file). Nothing when none is open.
void AbandonObject(ConnectionRecord& record);

// n bytes served from the cache: the program-wide counter and, when the user
// counts cache traffic and the target is not local, the user's incoming step.
void CountCacheBytes(ConnectionRecord& record, std::int64_t n);

}  // namespace brindlex
