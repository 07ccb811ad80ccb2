#include "net/worker.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "core/accounting.h"
#include "core/clock.h"
#include "core/connection.h"
#include "core/file_io.h"
#include "core/identification.h"
#include "core/log_files.h"
#include "core/main_loop.h"
#include "core/process_state.h"
#include "core/refusal_monitor.h"
#include "core/report_exception.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/strings.h"
#include "core/users.h"
#include "net/pipe_relay.h"
#include "net/protocol_handlers.h"
#include "net/relay.h"
#include "net/server_io.h"
#include "net/socket_util.h"
#include "net/worker_threads.h"

namespace brindlex {

namespace {

constexpr int kPollTimeoutMs = 100;
// The waits of a connection on which nothing happens: each wait that ends
// with nothing ready, while nothing is queued for either side, lets the next
// one last longer, and any readiness returns it to kPollTimeoutMs. Hundreds of
// idle tunnels would otherwise cost a good share of a core in wake-ups alone.
// What only the timer brings (the continuing check finding a user disabled,
// a limit reached or the schedule closed; a close asked for by another
// thread) is thus noticed up to 3 s late on an idle connection; the shutdown
// wakes the wait through its descriptor at once.
constexpr int kQuietWaitsMs[] = {kPollTimeoutMs, 1000, 2000, 3000};
constexpr int kLastQuietStep = static_cast<int>(std::size(kQuietWaitsMs)) - 1;
// A connection still waiting for its first request head has no user yet and
// nothing that changes with time but its opening deadline, which bounds the
// wait itself: it starts on the second step.
constexpr int kRequestWaitStep = 1;

// The client's end of input: the protocol decides whether that ends the
// connection or only its input.
void EndClientInput(ConnectionRecord& r) {
  auto ended = HandlersOf(r.service).clientInputEnded;
  InputEnd end = ended ? ended(r) : InputEnd::kConnectionEnds;
  if (end == InputEnd::kConnectionEnds) {
    r.clientClosed = true;
    return;
  }
  r.clientInputEnded = true;
  r.passInputEnd = end == InputEnd::kPassedOn;
}

void ReceiveFromClient(ConnectionRecord& r) {
  // After its end of input the client is not polled for reading: a hang-up
  // now means it is gone altogether.
  if (r.clientInputEnded) {
    r.clientClosed = true;
    return;
  }
  int room = kBufferSize - r.clientInLength;
  if (room <= 0) return;
  ssize_t n = ReceiveSome(r.clientSocket, r.clientIn + r.clientInLength, static_cast<size_t>(room));
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n == 0) {
    EndClientInput(r);
    return;
  }
  if (n < 0) {
    r.clientClosed = true;
    return;
  }
  r.clientInLength += static_cast<int>(n);
}

// A record whose client output a data channel fills (an ftp:// request)
// shares that output with the channel's thread, and its link to the channel
// with the main thread, which unlinks it: both are read under the accounts
// lock.
int ClientOutputLength(const ConnectionRecord& r) {
  if (!r.clientOutShared) return r.clientOutLength;
  std::lock_guard<std::mutex> lock(AccountsLock());
  return r.clientOutLength;
}

bool HasDataChannel(const ConnectionRecord& r) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  return r.dataRecord != nullptr;
}

bool IsDataChannel(const ConnectionRecord& r) {
  return r.service == kServiceHttpFtpData || r.service == kServiceFtpData;
}

bool HasControlConnection(const ConnectionRecord& r) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  return r.controlRecord != nullptr;
}

void SendToClient(ConnectionRecord& r) {
  std::unique_lock<std::mutex> lock(AccountsLock(), std::defer_lock);
  if (r.clientOutShared) lock.lock();
  if (r.clientOutLength <= 0) return;
  ssize_t n = SendSome(r.clientSocket, r.clientOut.get(), static_cast<size_t>(r.clientOutLength));
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n < 0) {
    r.clientClosed = true;
    r.clientOutLength = 0;
    return;
  }
  std::memmove(r.clientOut.get(), r.clientOut.get() + n, static_cast<size_t>(r.clientOutLength - n));
  r.clientOutLength -= static_cast<int>(n);
}

// Takes the one inbound connection of a listening socket (FTP data channels,
// a SOCKS5 BIND).
bool AcceptPending(int& socket) {
  int accepted = ::accept4(socket, nullptr, nullptr, SOCK_CLOEXEC);
  CloseDescriptor(socket);
  if (accepted < 0) return false;
  socket = accepted;
  return true;
}

// A data channel's client socket (the FTP proxy's passive mode) waits for
// the client of its control connection alone: whoever else connected first
// (another machine guessing the port) would take the user's data, counted
// for the user. A stranger is closed at once and shown as refused, and the
// socket goes on waiting. False when the wait failed.
bool AcceptDataClient(ConnectionRecord& r) {
  int accepted = ::accept4(r.clientSocket, nullptr, nullptr, SOCK_CLOEXEC);
  if (accepted < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EINTR;
  Ipv4 peer = kNoAddress;
  std::uint16_t port = 0;
  if (!PeerAddress(accepted, peer, port) || peer != r.clientAddress) {
    ::close(accepted);
    const UserRecord* user = ConnectionUser(r);
    ReportRefusal({r.service, peer, user ? user->login : r.proxyLogin, r.url, 0, false});
    return true;
  }
  CloseDescriptor(r.clientSocket);
  r.clientSocket = accepted;
  r.clientAcceptPending = false;
  OpeningComplete(r);
  return true;
}

void Greet(ConnectionRecord& r) {
  switch (r.service) {
    case kServiceFtpControl:
      ReplaceClientOutput(r, Str(430));
      break;
    case kServiceSmtp:
      ReplaceClientOutput(r, Str(450));
      break;
    case kServicePop3:
      ReplaceClientOutput(r, Str(439));
      break;
    default:
      break;
  }
}

void AnswerEnded(ConnectionRecord& r, bool clean) {
  if (auto ended = HandlersOf(r.service).answerEnded) ended(r, clean);
}

bool WaitingForRequest(const ConnectionRecord& r) {
  // A data channel's state is set by its control record's thread, and no
  // data channel ever waits for a request.
  return !IsDataChannel(r) && r.state == ConnectionState::kAwaitingHead && !r.userSession && r.serverSocket < 0 &&
         r.clientOutLength == 0 && r.readFile < 0 && r.auxSocket < 0;
}

// Only readiness or what the timer checks can change anything: nothing is
// about to end and nothing is queued for either side (a request head still
// incomplete waits for its client like an empty buffer).
bool Quiet(const ConnectionRecord& r) {
  if (r.serverFinished || r.clientClosed || r.clientOutShared) return false;
  return WaitingForRequest(r) || (r.clientInLength == 0 && r.clientOutLength == 0 && r.serverInLength == 0 &&
                                  r.serverOutLength == 0 && r.relayPipeLength == 0 && r.readFile < 0);
}

// Steps 1 to 3: closes the side whose part is over. Returns false when the
// whole connection is over (the loop ends).
bool CloseWhatEnded(ConnectionRecord& r) {
  r.stepMarker = 1;
  // The answer of an ftp:// request is its data channel: once that is gone,
  // the server side is over; and a data channel whose control connection is
  // gone has nobody left to serve.
  if (r.clientOutShared && !r.serverFinished && !HasDataChannel(r)) r.serverFinished = true;
  if (IsDataChannel(r) && !r.serverFinished && !HasControlConnection(r)) r.serverFinished = true;
  if (r.serverFinished) {
    // A response that ended cleanly keeps its object open until serverIn is
    // drained into it (step 10); any other end loses the object.
    if (!r.serverEof) AnswerEnded(r, false);
    CloseDescriptor(r.serverSocket);
    if (ClientOutputLength(r) == 0 && r.serverInLength == 0 && r.relayPipeLength == 0 && r.readFile < 0 &&
        !HasDataChannel(r))
      r.clientClosed = true;
  }
  r.stepMarker = 2;
  if (r.clientClosed) {
    CloseRelayPipe(r);
    if (r.readFile >= 0) {
      ::close(r.readFile);
      r.readFile = -1;
    }
    if (r.service == kServicePortMapUdp)
      r.clientSocket = -1;
    else
      CloseDescriptor(r.clientSocket);
    if (r.serverOutLength == 0 && (r.cacheWriteFile < 0 || !Settings()->CachOffline)) r.serverFinished = true;
  }
  r.stepMarker = 3;
  if (r.clientSocket < 0 && r.serverSocket < 0 &&
      !(r.service == kServiceHttpFtpData && r.serverInLength > 0 && HasControlConnection(r))) {
    Close(r);
    return false;
  }
  return true;
}

// The descriptors of one wait and where each side's entry is (-1: none).
struct PollSet {
  pollfd fds[4];
  int count = 0;
  int client = -1;
  int server = -1;
  int aux = -1;

  int Add(int fd, short events) {
    fds[count] = pollfd{fd, events, 0};
    return count++;
  }
  short Revents(int index) const { return index >= 0 ? fds[index].revents : 0; }
  // An error without pending data is the socket's exceptional state;
  // pending data is read first so that nothing already received is lost.
  bool Failed(int index) const {
    short e = Revents(index);
    return (e & POLLNVAL) || ((e & POLLERR) && !(e & POLLIN));
  }
};

// Step 5: what each socket waits for. A full input buffer is not polled for
// reading, so a slow side throttles the other without waking this thread.
// While the client does not take what is queued for it, neither side is
// read: a server that talks (FTP replies, a mail server's lines) or a client
// that asks and asks to a peer that never reads would otherwise grow the
// queue without end.
PollSet BuildPollSet(const ConnectionRecord& r) {
  PollSet set;
  const int clientOutput = ClientOutputLength(r);
  const bool backlogged = clientOutput >= kClientOutputLimit;
  auto watch = [&](int socket, int inLength, int outLength, bool acceptPending) {
    short events = 0;
    if (inLength < kBufferSize || acceptPending) events |= POLLIN;
    if (outLength > 0 && !acceptPending) events |= POLLOUT;
    return set.Add(socket, events);
  };
  if (r.clientSocket >= 0 && r.service != kServicePortMapUdp)
    set.client = watch(r.clientSocket, r.clientInputEnded || backlogged ? kBufferSize : r.clientInLength,
                       clientOutput + r.relayPipeLength, r.clientAcceptPending);
  // The server waits while the pipe holds bytes the client has not taken.
  if (r.serverSocket >= 0)
    set.server = watch(r.serverSocket, r.relayPipeLength > 0 || backlogged ? kBufferSize : r.serverInLength,
                       r.serverOutLength, r.serverAcceptPending);
  if (r.auxSocket >= 0) set.aux = watch(r.auxSocket, 0, 0, false);
  return set;
}

// The length of a worker's waits: kPollTimeoutMs while anything happens,
// the steps of kQuietWaitsMs while nothing does.
class WaitLadder {
 public:
  // The timeout of the wait about to begin. Without a shutdown descriptor a
  // long wait would delay the shutdown.
  int Timeout(const ConnectionRecord& r) {
    quiet_ = Quiet(r) && ShutdownWakeFd() >= 0;
    if (!quiet_) return kPollTimeoutMs;
    return kQuietWaitsMs[WaitingForRequest(r) ? std::max(step_, kRequestWaitStep) : step_];
  }
  // The wait ended with `ready` descriptors ready (what poll returned).
  void Ended(int ready) { step_ = ready == 0 && quiet_ ? std::min(step_ + 1, kLastQuietStep) : 0; }

 private:
  bool quiet_ = false;
  int step_ = 0;
};

// A connection whose service has not read its opening yet waits no longer
// than its deadline, so the close comes on time without any wake-up of its
// own; once the deadline has passed the connection is closed (false).
bool WithinOpeningDeadline(ConnectionRecord& r, int& timeout) {
  if (r.openingDeadline == 0) return true;
  std::int64_t left = OpeningMsLeft(r, ProgramClock().PerformanceCounter());
  if (left == 0) {
    Close(r);
    return false;
  }
  timeout = static_cast<int>(std::min<std::int64_t>(timeout, left));
  return true;
}

// Step 7: the sockets that are ready are served. Returns false when the
// connection failed (Close has been called).
bool HandleReadiness(ConnectionRecord& r, const PollSet& set) {
  if (set.Revents(set.client) & (POLLIN | POLLHUP)) {
    if (r.clientAcceptPending) {
      if (!AcceptDataClient(r)) r.serverFinished = true;
    } else {
      ReceiveFromClient(r);
    }
  }
  const ProtocolHandlers& handlers = HandlersOf(r.service);
  if (set.Revents(set.server) & (POLLIN | POLLHUP)) {
    if (r.serverAcceptPending) {
      r.serverAcceptPending = false;
      if (!AcceptPending(r.serverSocket)) {
        r.serverFinished = true;
      } else {
        // The peer the socket listened for has come (AwaitPeer): from now on
        // the record waits for nothing but the transfer.
        OpeningComplete(r);
        if (handlers.serverAccepted) handlers.serverAccepted(r);
      }
    } else if (r.auxSocket >= 0 && handlers.serverDatagrams) {
      handlers.serverDatagrams(r);
    } else if (!(PipeRelayUsable(r) && ReceiveIntoPipe(r)) && r.relayPipeLength == 0) {
      ReceiveFromServer(r);
    }
  }
  if (set.Revents(set.aux) & POLLIN) {
    if (handlers.auxInput) {
      handlers.auxInput(r);
    } else {
      char sink[512];
      ReceiveSome(r.auxSocket, sink, sizeof(sink));
    }
  }
  if ((set.Revents(set.client) & POLLOUT) && r.clientSocket >= 0) {
    SendFromPipe(r);
    SendToClient(r);
  }
  if ((set.Revents(set.server) & POLLOUT) && r.serverSocket >= 0) SendToServer(r);
  if (set.Failed(set.server)) {
    Close(r);
    return false;
  }
  // A client that fails is gone as one that closed: the next pass ends its
  // side, and what the server still sends may complete a cache object. A
  // client whose input has ended is not polled for reading, so its reset
  // shows only here.
  if (set.Failed(set.client)) r.clientClosed = true;
  return true;
}

// Steps 8 to 10: the protocol takes what arrived, and what it queued for a
// side is sent at once: it usually fits into the socket, which saves a wait
// per piece (the sockets never block).
void Dispatch(ConnectionRecord& r) {
  r.stepMarker = 8;
  if (r.clientInLength > 0) {
    if (!HandlersOf(r.service).clientInput(r)) return;
    if (r.serverSocket >= 0 && !r.serverAcceptPending) SendToServer(r);
    // A dialogue's answer (a SOCKS5 reply, an FTP or mail line) goes out
    // before the wait for the client's next message.
    if (r.clientSocket >= 0 && !r.clientAcceptPending) SendToClient(r);
  }
  r.stepMarker = 9;
  if (r.serverInLength > 0) {
    HandlersOf(r.service).serverInput(r);
    if (r.clientSocket >= 0 && !r.clientAcceptPending) SendToClient(r);
  }
  r.stepMarker = 10;
  if (r.serverInLength == 0 && r.serverEof) {
    AnswerEnded(r, true);
    r.serverEof = false;
  }
  // The server hears the client's end of input only after every byte before it.
  if (r.passInputEnd && r.clientInLength == 0 && r.serverOutLength == 0 && r.serverSocket >= 0) {
    ::shutdown(r.serverSocket, SHUT_WR);
    r.passInputEnd = false;
  }
}

// One pass of the loop: closes what ended, checks the user, waits and serves
// what became ready.
void WorkerPass(ConnectionRecord& r, WaitLadder& waits) {
  if (!CloseWhatEnded(r)) return;

  r.stepMarker = 4;
  ContinuingCheck(r);
  if (auto beforeWait = HandlersOf(r.service).beforeWait) beforeWait(r);

  r.stepMarker = 5;
  PollSet set = BuildPollSet(r);
  int timeout = waits.Timeout(r);
  if (!WithinOpeningDeadline(r, timeout)) return;
  if (timeout > kPollTimeoutMs) set.Add(ShutdownWakeFd(), POLLIN);

  r.stepMarker = 6;
  int ready = ::poll(set.fds, static_cast<nfds_t>(set.count), timeout);
  waits.Ended(ready);
  if (ready < 0 && errno != EINTR) {
    r.serverFinished = true;
    r.clientClosed = true;
    ::usleep(10000);
    return;
  }

  r.stepMarker = 7;
  if (ready > 0 && !HandleReadiness(r, set)) return;
  Dispatch(r);
}

void RemoveFromList(ConnectionRecord* record) {
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    auto& list = ConnectionListLocked();
    list.erase(std::remove(list.begin(), list.end(), record), list.end());
    UnlinkConnectionLocked(record);
  }
  DeleteConnection(record);
}

// The end step runs on the worker itself: handing every record to the main
// thread would wake that thread once per connection and queue the ends of a
// busy gateway behind one core. The shutdown waits for the list to empty.
void EndStep(ConnectionRecord* record) {
  CloseBookkeeping(*record);
  RemoveFromList(record);
}

// An exception in a connection's work ends that connection alone: it is
// closed and ended like any other (its traffic counted and logged, its
// record freed), the monitor shows the exception, and every other connection
// goes on.
template <typename Part>
void EndingOnlyThisConnection(ConnectionRecord& r, Part part) {
  try {
    part();
  } catch (...) {
    Close(r);
    ReportCurrentExceptionAndGoOn("ProxyThread", r.stepMarker);
  }
}

void ServeConnection(void* record) { ServeConnectionHere(static_cast<ConnectionRecord*>(record)); }

}  // namespace

void ConnectionWorker(ConnectionRecord& r) {
  EndingOnlyThisConnection(r, [&r] {
    if (r.closeRequested || Flags().shutdown) return;
    r.stepMarker = 0;
    Greet(r);
    if (auto start = HandlersOf(r.service).start; start && !start(r)) {
      Close(r);
      return;
    }
    WaitLadder waits;
    while (!r.closeRequested && !Flags().shutdown) WorkerPass(r, waits);
  });
  // Whatever the protocol still had in progress (an object being written)
  // is incomplete; it must learn that, or it would wait for it for good.
  EndingOnlyThisConnection(r, [&r] { AnswerEnded(r, false); });
}

void ServeConnectionHere(ConnectionRecord* record) {
  ConnectionWorker(*record);
  EndStep(record);
}

void CloseBookkeeping(ConnectionRecord& r) {
  r.endCounter = ProgramClock().PerformanceCounter();
  r.endTime = ProgramClock().LocalNow();
  ConnectionLineParts parts;
  {
    // One hold of the lock: once the record is off its session's list, the
    // main timer may close that session, and the line names its user.
    std::lock_guard<std::mutex> lock(AccountsLock());
    if (UserSession* session = r.userSession) {
      auto& list = session->connections;
      list.erase(std::remove(list.begin(), list.end(), &r), list.end());
      if (list.empty()) TimeStepLocked(*session, r.endCounter);
    } else if (SessionRecord* record = r.sessionRecord) {
      auto& list = record->unattributed;
      list.erase(std::remove(list.begin(), list.end(), &r), list.end());
    }
    if (r.sessionRecord) --r.sessionRecord->openConnections;
    parts = TakeConnectionPartsLocked(r);
  }
  WriteConnectionLine(r.service, parts.start, FormatConnectionLine(r, parts));
  Flags().treeDirty = true;
}

bool StartWorker(ConnectionRecord* record) {
  if (RunOnWorkerThread(ServeConnection, record)) return true;
  // Without a thread the client is refused; the listener goes on.
  Close(*record);
  EndStep(record);
  return false;
}

}  // namespace brindlex
