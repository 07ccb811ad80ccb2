// The connection worker: one thread per connection record, running one loop
// of poll waits over the record's sockets (100 ms, longer while nothing
// happens) and dispatching on its protocol state. When the loop ends the worker hands the record to the main
// thread, which runs the close bookkeeping, removes it from the connection
// list and frees it. An exception in a worker ends only its own connection,
// which is handed over the same way.
#pragma once

#include <cstddef>

namespace brindlex {

struct ConnectionRecord;

// Starts a worker thread for a record already in the connection list.
// Returns false when no thread could be started (the record is then closed
// and handed to the main thread like a finished one).
bool StartWorker(ConnectionRecord* record);

// The worker thread body (exposed for tests that drive a record by hand).
void ConnectionWorker(ConnectionRecord& record);

// The close bookkeeping; main thread only.
void CloseBookkeeping(ConnectionRecord& record);

// Worker threads that have not returned yet. Shutdown waits for 0 after the
// connection list is empty, so no worker outlives the process's tables.
size_t LiveWorkerCount();

}  // namespace brindlex
