#include "socks/socks_protocol.h"

#include <cstring>
#include <string_view>

#include "core/connection.h"
#include "core/file_io.h"
#include "http/access_gate.h"
#include "http/next_hop.h"
#include "http/reply_page.h"
#include "net/protocol_handlers.h"
#include "net/relay.h"
#include "net/socket_util.h"
#include "net/upstream.h"
#include "socks/socks_messages.h"
#include "socks/socks_sockets.h"
#include "socks/socks_udp.h"

namespace brindlex {

namespace {

constexpr char kChooseNoAuthentication[] = {5, 0};
constexpr char kChooseLogin[] = {5, 2};
constexpr char kLoginAccepted[] = {1, 0};

std::string_view Input(const ConnectionRecord& r) {
  return std::string_view(r.clientIn, static_cast<size_t>(r.clientInLength));
}

void Answer(ConnectionRecord& r, std::string_view bytes) { QueueToClient(r, bytes); }

// The silent end that every failure takes.
void End(ConnectionRecord& r) {
  r.clientInLength = 0;
  r.serverFinished = true;
}

// Whether a step's message is there: false when it is still incomplete (the
// step waits) or when it was malformed (the connection ends).
bool Complete(ConnectionRecord& r, SocksParse parse) {
  if (parse == SocksParse::kMalformed) End(r);
  return parse == SocksParse::kComplete;
}

bool Greeting(ConnectionRecord& r) {
  SocksGreeting greeting;
  if (!Complete(r, ParseSocksGreeting(Input(r), greeting))) return false;
  // What follows the message stays for the next step: a client may send its
  // greeting, login and request at once.
  DropClientInput(r, greeting.length);
  if (greeting.offersLogin) {
    Answer(r, std::string_view(kChooseLogin, sizeof(kChooseLogin)));
    r.state = ConnectionState::kSocks5Login;
  } else {
    Answer(r, std::string_view(kChooseNoAuthentication, sizeof(kChooseNoAuthentication)));
    r.state = ConnectionState::kSocks5Request;
  }
  return true;
}

// Every name and password passes here: the request step judges them, by
// identifying the user with them.
bool Login(ConnectionRecord& r) {
  SocksLogin login;
  if (!Complete(r, ParseSocksLogin(Input(r), login))) return false;
  r.proxyLogin.assign(login.user);
  r.proxyPassword.assign(login.password);
  DropClientInput(r, login.length);
  Answer(r, std::string_view(kLoginAccepted, sizeof(kLoginAccepted)));
  r.state = ConnectionState::kSocks5Request;
  return true;
}

// The user, the target and the access rules; false when the connection ends.
bool Admitted(ConnectionRecord& r, const SocksRequest& request) {
  r.host = request.target.host.substr(0, kHostMax);
  r.url = r.host;
  const UserRecord* user = IdentifyConnection(r);
  if (!ResolveTarget(r, r.host)) return false;
  r.serverPort = request.target.port;
  // What a BIND or UDP ASSOCIATE names is the client's own side, which says
  // nothing of where its traffic goes: the gateway's name there would let
  // anybody relay to any host, uncounted. Only a CONNECT to a local server
  // goes without a user.
  if (request.command != kSocksConnect) r.localServer = false;
  if (!r.localServer && !user) {
    ReportRefused(r, kProxyAuthMessage, true);
    return false;
  }
  // Only CONNECT goes where the client said; BIND and UDP ASSOCIATE name
  // the client's own side there.
  if (request.command == kSocksConnect && !CheckDestination(r)) return false;
  return CheckAccess(r, false, -1);
}

bool Connect(ConnectionRecord& r) {
  if (ConnectUpstream(r) != UpstreamResult::kConnected) return false;
  Answer(r, SocksReply(r.serverAddress, r.serverPort));
  r.state = ConnectionState::kSocks5Relay;
  MoveToServer(r, r.clientIn, r.clientInLength);
  return true;
}

// The listening socket goes on the gateway's address that faces the client,
// which is the one address of the gateway the client is sure to reach.
bool Bind(ConnectionRecord& r) {
  Ipv4 facing = 0;
  std::uint16_t port = 0;
  if (!LocalAddress(r.clientSocket, facing, port)) return false;
  int listener = OpenSocksListener(facing);
  if (listener < 0) return false;
  CloseDescriptor(r.serverSocket);
  r.serverSocket = listener;
  Ipv4 bound = 0;
  if (!LocalAddress(listener, bound, port)) return false;
  Answer(r, SocksReply(bound, port));
  r.serverAcceptPending = true;
  r.state = ConnectionState::kSocks5Bound;
  // Counted from the reply: the client's opening is over.
  AwaitPeer(r);
  return true;
}

// The client's datagrams come to the gateway's address that faces it; the
// server socket sends them on from any address.
bool Associate(ConnectionRecord& r) {
  Ipv4 facing = 0;
  std::uint16_t port = 0;
  if (!LocalAddress(r.clientSocket, facing, port)) return false;
  r.auxSocket = OpenSocksDatagramSocket(facing);
  int server = OpenSocksDatagramSocket(0);
  if (r.auxSocket < 0 || server < 0) {
    CloseDescriptor(server);
    return false;
  }
  CloseDescriptor(r.serverSocket);
  r.serverSocket = server;
  Ipv4 bound = 0;
  if (!LocalAddress(r.auxSocket, bound, port)) return false;
  Answer(r, SocksReply(bound, port));
  // What the client sends on its TCP connection from now on means nothing:
  // the connection only keeps the association alive.
  r.clientInLength = 0;
  return true;
}

bool Request(ConnectionRecord& r) {
  SocksRequest request;
  if (!Complete(r, ParseSocksRequest(Input(r), request))) return false;
  OpeningComplete(r);
  DropClientInput(r, request.length);
  bool served = Admitted(r, request);
  if (served) {
    switch (request.command) {
      case kSocksConnect:
        served = Connect(r);
        break;
      case kSocksBind:
        served = Bind(r);
        break;
      case kSocksUdpAssociate:
        served = Associate(r);
        break;
    }
  }
  if (!served) End(r);
  return served;
}

bool ClientInput(ConnectionRecord& r) {
  switch (r.state) {
    case ConnectionState::kSocks5:
      if (!Greeting(r)) return false;
      // The login or the request may have come with it.
      return r.clientInLength == 0 || ClientInput(r);
    case ConnectionState::kSocks5Login:
      if (!Login(r)) return false;
      return r.clientInLength == 0 || ClientInput(r);
    case ConnectionState::kSocks5Request:
      if (r.auxSocket >= 0) {
        r.clientInLength = 0;
        return true;
      }
      return Request(r);
    case ConnectionState::kSocks5Bound:
    case ConnectionState::kSocks5Relay:
      // Held in serverOut until the inbound connection of a BIND is there.
      MoveToServer(r, r.clientIn, r.clientInLength);
      return true;
    default:
      End(r);
      return false;
  }
}

void ServerInput(ConnectionRecord& r) {
  if (r.state == ConnectionState::kSocks5Relay)
    MoveToClient(r, r.serverIn, r.serverInLength);
  else
    r.serverInLength = 0;
}

// The peer of a BIND has come: the client hears who it is, and the relay begins.
void ServerAccepted(ConnectionRecord& r) {
  std::uint16_t port = 0;
  if (!PeerAddress(r.serverSocket, r.serverAddress, port)) {
    End(r);
    return;
  }
  r.serverPort = port;
  Answer(r, SocksReply(r.serverAddress, r.serverPort));
  r.state = ConnectionState::kSocks5Relay;
}

InputEnd ClientInputEnded(const ConnectionRecord& r) {
  return r.state == ConnectionState::kSocks5Relay ? InputEnd::kPassedOn : InputEnd::kConnectionEnds;
}

// A relay's bytes are nobody's business here.
int BypassRoom(const ConnectionRecord& r, int room) { return r.state == ConnectionState::kSocks5Relay ? room : 0; }

}  // namespace

void RegisterSocks5Protocol() {
  ProtocolHandlers handlers;
  handlers.clientInput = ClientInput;
  handlers.clientInputEnded = ClientInputEnded;
  handlers.serverInput = ServerInput;
  handlers.bypassRoom = BypassRoom;
  handlers.serverAccepted = ServerAccepted;
  handlers.auxInput = Socks5UdpFromClient;
  handlers.serverDatagrams = Socks5UdpFromServer;
  RegisterProtocolHandlers(kServiceSocks5, handlers);
}

}  // namespace brindlex
