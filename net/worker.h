// The connection worker: a loop of poll waits over one record's sockets
// (100 ms, longer while nothing happens) that dispatches on its protocol
// state, on a thread of its own while it runs (net/worker_threads.h). When
// the loop ends the worker runs the close bookkeeping itself, removes the
// record from the connection list and frees it. An exception in a worker
// ends only its own connection, which ends the same way.
#pragma once

namespace brindlex {

struct ConnectionRecord;

// Starts a worker thread for a record already in the connection list.
// Returns false when no thread could be started (the record is then closed
// and ended like a finished one).
bool StartWorker(ConnectionRecord* record);

// Serves a record already in the connection list on the calling thread, then
// ends it (close bookkeeping, removal, free): what a started worker runs.
void ServeConnectionHere(ConnectionRecord* record);

// The worker thread body (exposed for tests that drive a record by hand).
void ConnectionWorker(ConnectionRecord& record);

// The close bookkeeping: the record leaves its session, its line goes to the
// log and the monitor. Any thread; takes the accounts lock itself.
void CloseBookkeeping(ConnectionRecord& record);

}  // namespace brindlex
