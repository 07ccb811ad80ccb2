// The connection record: the state of one client connection (or one FTP data
// channel), shared by every protocol handler, and the connection list.
//
// Ownership: the connection list owns every record. The record's worker thread
// is the only thread that touches its buffers and sockets, except where a
// control record and its data record write into each other's texts and client
// output; every such cross access, and every change of controlRecord and
// dataRecord, happens under the accounts lock. closeRequested may be set by
// any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_body.h"
#include "core/request_conditions.h"
#include "core/value_codec.h"

namespace brindlex {

struct PortMapRule;
struct SessionRecord;
struct UserSession;

enum Service : std::uint8_t {
  kServiceHttp = 0,
  kServiceHttpFtpData = 1,
  kServiceFtpControl = 2,
  kServiceFtpData = 3,
  kServiceSmtp = 4,
  kServicePop3 = 5,
  kServiceSocks5 = 6,
  kServicePortMapTcp = 7,
  kServicePortMapUdp = 8,
};

inline constexpr int kBufferSize = 8192;
inline constexpr size_t kMethodMax = 154;
inline constexpr size_t kHostMax = 511;
inline constexpr size_t kConnectionLimit = 500;
inline constexpr int kPeerWaitSeconds = 60;

// A client's datagram on its way through a UDP port mapping, with the port it
// came from.
struct ClientDatagram {
  int port = 0;
  std::string bytes;
};

// The bytes queued for the client: the record's own buffer at first, a larger
// one on the heap once a reply needs more room (net/relay.h).
class ClientOutput {
 public:
  char* get() const { return data_; }
  void Use(char* storage) { data_ = storage; }
  void Replace(std::unique_ptr<char[]> grown) {
    heap_ = std::move(grown);
    data_ = heap_.get();
  }

 private:
  char* data_ = nullptr;
  std::unique_ptr<char[]> heap_;
};

// The protocol state of a connection. The numbers are fixed: wherever a state
// is shown or compared as a number, StateNumber gives it.
enum class ConnectionState : int {
  // HTTP proxy (service 0).
  kAwaitingHead = 0,  // the request head is not complete yet
  kHeadParsed = 1,    // answered by the gateway itself, or refused
  kRevalidating = 2,  // asking the origin whether a stale object is still good
  kRevalidated = 3,   // serving the object the origin confirmed
  kRelay = 1000,      // the request went upstream; the response is relayed
  kTunnel = 1001,     // a CONNECT tunnel
  // An ftp:// request (service 0): the gateway talks FTP to the server.
  kFtpGreeting = 10,      // waiting for the server's 220
  kFtpLogin = 11,         // USER (then PASS) sent
  kFtpPassive = 12,       // PASV sent
  kFtpChannelReady = 13,  // PORT sent; a passive channel skips this wait
  kFtpDirectory = 14,     // CWD, then PWD sent
  kFtpBinary = 15,        // TYPE I sent
  kFtpTransfer = 16,      // LIST or RETR sent: the data channel carries the answer
  kFtpFailed = 23,        // the server refused; its answer is on the failure page
  // The state each other service starts in.
  kHttpFtpData = 100,       // an ftp:// data channel, before its first listing bytes
  kHttpFtpListing = 101,    // listing lines, turned into page rows
  kHttpFtpFileStart = 103,  // before the first bytes of a file
  kHttpFtpFile = 104,       // file bytes, passed on as they are
  kFtpControl = 200,        // FTP proxy (service 2): expecting USER
  kFtpProxyPass = 201,      // expecting PASS
  kFtpProxyOpen = 202,      // expecting OPEN or SITE
  kFtpProxyRelay = 203,     // the dialogue is relayed
  kFtpProxyGreeting = 204,  // connected; the server's greeting is answered with USER
  kFtpProxyPassive = 205,   // PASV sent, its answer is rewritten
  kFtpData = 300,
  kSmtp = 400,           // SMTP (service 4): the gateway awaits HELO or EHLO
  kSmtpMail = 401,       // awaits MAIL FROM
  kSmtpGreeting = 402,   // connected; the server's greeting is answered with the client's HELO
  kSmtpHeloReply = 403,  // the answer to HELO is answered with the client's MAIL FROM
  kSmtpRelay = 404,
  kPop3 = 500,          // POP3 (service 5): the gateway awaits USER
  kPop3Greeting = 501,  // connected; the server's greeting is answered with USER
  kPop3Relay = 502,
  kSocks5 = 600,       // SOCKS5 (service 6): the method negotiation
  kSocks5Login = 601,  // the user name and password
  kSocks5Request = 602,
  kSocks5Bound = 603,  // a BIND waits for its one inbound connection
  kSocks5Relay = 604,
  kPortMapTcp = 700,
  kPortMapUdp = 800,
};

constexpr int StateNumber(ConnectionState state) { return static_cast<int>(state); }

// The protocol state a new record of a service starts in.
ConnectionState InitialState(std::uint8_t service);

// The login of an ftp:// request whose URL names none.
inline constexpr const char* kAnonymousFtpLogin = "anonymous";

struct ConnectionRecord {
  int stepMarker = 0;
  std::atomic<bool> closeRequested{false};
  // While the service has not read what opens the connection (for HTTP the
  // request head), the counter value at which the worker closes it; 0: none.
  // Only the listener (before the worker starts) and the worker touch it.
  std::int64_t openingDeadline = 0;
  ConnectionState state = ConnectionState::kAwaitingHead;
  ConnectionRecord* controlRecord = nullptr;
  bool serverAcceptPending = false;
  bool clientAcceptPending = false;

  int clientSocket = -1;
  int clientInLength = 0;
  ClientOutput clientOut;  // grows when a reply needs more room
  // Set by the record's own worker before it links a data record that writes
  // into clientOut: from then on the worker sends from it under the accounts
  // lock, and never waits long, as bytes arrive there without any readiness.
  bool clientOutShared = false;
  int clientOutCapacity = 0;
  int clientOutLength = 0;
  bool clientClosed = false;
  // The client half-closed after a complete request: its socket is no longer
  // read, but the answer still goes to it.
  bool clientInputEnded = false;
  // ... and the server is to hear that end too, once it has every byte the
  // client sent (a tunnel).
  bool passInputEnd = false;

  int serverSocket = -1;
  Ipv4 serverAddress = kNoAddress;
  int serverPort = 0;
  int serverInLength = 0;
  int serverOutLength = 0;
  bool serverFinished = false;
  bool serverEof = false;
  int auxSocket = -1;
  // Server bytes on their way to the client through a kernel pipe instead of
  // serverIn and clientOut (net/pipe_relay.h); -1 until first used.
  int relayPipe[2] = {-1, -1};
  int relayPipeLength = 0;
  int relayPipeSize = 0;  // what the pipe holds; one piece of the relay

  int responseState = 0;
  std::int64_t bodyBytes = 0;
  int cacheWriteFile = -1;
  int readFile = -1;
  bool servingLocalFile = false;
  std::atomic<bool> dialUpWait{false};
  Ipv4 clientAddress = kNoAddress;
  // Where a client's relayed datagrams come from (SOCKS5 UDP, UDP port
  // mapping: the latest datagram's port).
  int clientUdpPort = 0;
  std::uint8_t service = 0;
  std::int64_t speedPeriodStart = 0;
  std::int32_t speedQuantumLeft = 0;
  std::int64_t startCounter = 0;
  std::int64_t endCounter = 0;
  std::int64_t endTime = 0;
  // 64-bit: a tunnel easily carries more than 2 GB.
  std::int64_t bytesSent = 0;
  std::int64_t bytesReceived = 0;
  SessionRecord* sessionRecord = nullptr;
  UserSession* userSession = nullptr;
  std::string method;  // at most kMethodMax bytes
  std::string host;    // at most kHostMax bytes
  bool localServer = false;
  std::string url;
  std::string path;
  std::string proxyLogin;
  std::string proxyPassword;
  std::string ftpLogin;  // kAnonymousFtpLogin unless the ftp:// URL names one
  std::string ftpPassword;
  std::string lastFtpCommand;  // what the failure page says the server refused
  std::string pageTail;        // the listing page after its rows
  // FTP proxy: what the commands relayed to the server and not answered yet
  // asked for, oldest first, one character each (ftp/ftp_proxy.cpp).
  std::string ftpAwaited;
  bool hasAuthorization = false;
  bool noStore = false;
  bool noCache = false;
  RequestConditions conditions;
  MessageBody requestBody;  // what of the client's bytes may still go upstream
  std::int64_t contentLength = -1;
  // A chunked answer's framing, followed while it is written to the cache.
  MessageBody responseBody;
  std::string responseEtag;
  std::array<std::uint8_t, 74> cacheEntry{};
  ConnectionRecord* dataRecord = nullptr;

  // Port mapping: a copy of the rule that accepted the connection; for UDP
  // it keeps the rule's socket, through which the answers go, open.
  std::shared_ptr<const PortMapRule> portMapRule;
  // UDP port mapping: when a datagram last passed either way (counter value;
  // the listener reads it to tell a conversation that has gone quiet).
  std::atomic<std::int64_t> lastDatagramCounter{0};
  // UDP port mapping: the datagrams the listener took from the rule's socket
  // for this conversation and that are not relayed yet, and whether the
  // conversation has ended (no datagram is handed to it any more); both
  // guarded by the accounts lock.
  std::deque<ClientDatagram> clientDatagrams;
  bool conversationEnded = false;

  // The buffers come last and are not zeroed: an idle connection never
  // touches them, so they stay out of the resident set, and the fields above
  // share a page or two instead of being spread between the buffers.
  char clientIn[kBufferSize];  // only the first clientInLength bytes mean anything
  char serverIn[kBufferSize];
  char serverOut[kBufferSize];
  // Where clientOut starts out: a second allocation per record would put its
  // heap header on a page of its own.
  char clientOutInitial[kBufferSize];
};

// A record of the given service in its initial state, with the client output
// buffer allocated and startCounter stamped. Not in any list yet.
ConnectionRecord* NewConnection(std::uint8_t service);

// The list of every live record; guarded by the accounts lock.
std::vector<ConnectionRecord*>& ConnectionListLocked();
// Number of records in the list (takes the accounts lock).
size_t ConnectionCount();

// Ends the worker loop of the record at its next pass.
void Close(ConnectionRecord& record);

// A client that connects and never finishes its opening (silent, or one byte
// now and then) would hold a record for good, and with enough of them every
// record; the listener therefore gives each accepted connection `seconds`
// from its start (0 or less: no deadline) to complete it.
void SetOpeningDeadline(ConnectionRecord& record, int seconds);
// A socket that listens for one peer (a SOCKS5 BIND, an FTP data port) waits
// for it kPeerWaitSeconds from now: a peer that never comes would otherwise
// hold the record, and its other connection, for good. The peer's arrival
// ends the wait (OpeningComplete).
void AwaitPeer(ConnectionRecord& record);
// The service read what opens the connection: from now on quiet belongs to
// the transfer or tunnel, which are never closed for it.
void OpeningComplete(ConnectionRecord& record);
// Milliseconds left at counter value `now` until the opening deadline, 0 once
// it has passed; -1 without a deadline.
std::int64_t OpeningMsLeft(const ConnectionRecord& record, std::int64_t now);

// Freeing a record takes two steps: it is unlinked from its control or data
// record under the accounts lock; then, once nothing can reach it any more,
// its sockets and files are closed and it is deleted, without the lock.
void UnlinkConnectionLocked(ConnectionRecord* record);
void DeleteConnection(ConnectionRecord* record);

}  // namespace brindlex
