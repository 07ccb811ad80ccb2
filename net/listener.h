// The listener: a role that one thread at a time holds. It owns every
// listening socket of the gateway, waits on all of them with one poll,
// accepts at most one client per wake-up and admits it into a connection
// record; then it hands the role to a parked worker thread (or a new one)
// and serves that client itself, so that no thread switch stands between
// the client's connect and its first answer.
//
// Threads: ListenerRun starts the role on the calling thread, which returns
// once it has handed the role on and served its client, or once the
// listener stops; the rest of the Listener belongs to whichever thread holds
// the role (handing it on goes through the worker threads' lock).
// stopRequested and reopenMask are written by the main thread and read by
// the role, which waits without a time-out: whoever changes them calls
// ListenerWake.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/port_map_rules.h"
#include "core/settings.h"

namespace brindlex {

struct ConnectionRecord;

// reopenMask bits: which services' sockets the listener closes and reopens.
enum ReopenBits : int {
  // The port-mapping rules changed: sockets of rules gone or switched off
  // are closed, those of new rules opened (which every reopen does anyway).
  kReopenPortMapping = 1,
  kReopenHttp = 4,
  kReopenFtp = 8,
  kReopenSmtp = 16,
  kReopenPop3 = 32,
  kReopenSocks5 = 64,
  kReopenAll = kReopenHttp | kReopenFtp | kReopenSmtp | kReopenPop3 | kReopenSocks5,
};

inline constexpr int kMaxHttpSockets = 10;

struct Listener {
  int stepMarker = 0;
  std::atomic<bool> stopRequested{false};
  int httpSocketCount = 0;
  int httpSockets[kMaxHttpSockets] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  int httpPorts[kMaxHttpSockets] = {};
  int ftpSocket = -1;
  int smtpSocket = -1;
  int pop3Socket = -1;
  int socks5Socket = -1;
  // The sockets of port-mapping rules the listener opened and still serves.
  std::vector<std::shared_ptr<PortMapSocket>> portMapSockets;
  std::atomic<bool> stopped{false};
  std::atomic<int> reopenMask{0};
  // The first opening of the ports is over (a gateway that could open none
  // of them ends).
  bool portsOpened = false;
  // The listener's own wake-up descriptor (an eventfd), open while it runs;
  // closed under wakeMutex, so that a wake-up never writes to a descriptor
  // number that has meanwhile been reused.
  std::mutex wakeMutex;
  std::atomic<int> wakeFd{-1};
};

// Prepares the listener (every socket closed) and reports that networking
// starts.
void ListenerCreate();
// Takes up the role on the calling thread; `stopped` is set by whichever
// thread holds the role when the listener stops.
void ListenerRun(Listener& listener);
// Asks the listener to stop; the caller then waits for `stopped`.
void ListenerStop(Listener& listener);
// Ends the listener's current wait so that it looks at its flags.
void ListenerWake(Listener& listener);

// The reopenMask bits of the services whose ports differ between two values
// of the settings: a service switched on or off, or given another port while
// it is on; for HTTP, another list of ports.
int ChangedServices(const SystemSettings& before, const SystemSettings& after);
// Has the listener close and reopen the sockets of those services from the
// settings in force; connections already accepted go on. Main thread.
void ListenerReopen(Listener& listener, int mask);

// The monitor line of an attempt to open a listening socket. Called right
// after the attempt, while errno still says why it failed: the administrator
// needs the reason ("Address already in use"), not only that it failed.
std::string SocketOpenLine(const std::string& name, int port, bool ok);

// A flood of connections from one machine (BINDs that wait, clients that
// never finish their opening) would otherwise take every record and lock out
// everybody else. Whether the address of an admitted record (sessionRecord
// set, this record counted) holds more records than MaxConnectionsPerAddress
// allows; if so the refusal is reported and the caller closes the record.
// Caller holds the accounts lock.
bool OverAddressLimitLocked(const ConnectionRecord& record);

// A port of the HTTP, FTP, SMTP, POP3 or SOCKS5 service that the settings in
// force ask for, and whether the listener holds it open: what the gateway's
// figures show (the port-mapping rules carry their sockets themselves).
struct ListeningPort {
  std::uint8_t service = 0;  // the connection record's service number
  int port = 0;
  bool listening = false;
};
// As of the listener's last opening of ports; empty before the first and
// once the listener has stopped. Any thread.
std::vector<ListeningPort> ListeningPorts();

// How a status line reaches the monitor: by default it runs MonitorAppend on
// the main thread through the main loop.
void ListenerReport(const std::string& text);

}  // namespace brindlex
