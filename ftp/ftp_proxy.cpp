#include "ftp/ftp_proxy.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/chars.h"
#include "core/connection.h"
#include "core/process_state.h"
#include "core/strings.h"
#include "core/value_codec.h"
#include "ftp/ftp_command.h"
#include "ftp/ftp_data_channel.h"
#include "ftp/ftp_reply.h"
#include "http/access_gate.h"
#include "http/next_hop.h"
#include "net/protocol_handlers.h"
#include "net/relay.h"

namespace brindlex {

namespace {

constexpr int kPasswordRequired = 431;
constexpr int kLoggedIn = 432;
constexpr int kError = 435;
constexpr size_t kLoginMax = 8191;
constexpr const char* kControlMethod = "FTP_COMM";
// The answer to the ways of naming a data port that the gateway does not
// translate (LPRT, LPSV, EPSV ALL): passed on, they would let the data go
// around the gateway.
constexpr const char* kNotImplemented = "502 Command not implemented.\r\n";
// Commands a client may have sent ahead of their answers; one that sends more
// without reading waits until answers come.
constexpr size_t kAwaitedMax = 32;
// Room enough in serverOut for any command the gateway writes in place of the
// client's ("PORT h1,h2,h3,h4,p1,p2" with its line end), and for the client's
// own line once its Telnet codes are written back.
constexpr size_t kRewrittenMax = 32;

// What a relayed command asked the server for (ConnectionRecord::ftpAwaited):
// a 227 or 229 is taken only as the answer to the PASV or EPSV that asked for
// it. Taking one to any other command would relay a server's data port to the
// client, which could then fetch data around the gateway.
enum Awaited : char {
  kAnswer = 'a',
  kPassivePort = 'p',   // a 227 to PASV
  kExtendedPort = 'e',  // a 229 to EPSV
};

void Drop(char* buffer, int& length, size_t count) {
  std::memmove(buffer, buffer + count, static_cast<size_t>(length) - count);
  length -= static_cast<int>(count);
}

// Answers the client and ends the connection once the answer is out.
void Finish(ConnectionRecord& r, int answer) {
  ReplaceClientOutput(r, Str(answer));
  r.serverFinished = true;
}

void Forward(ConnectionRecord& r, std::string_view line) {
  std::string text(line);
  int length = static_cast<int>(text.size());
  MoveToServer(r, text.data(), length);
}

// Sends a command line to the server, noting what its answer is to be.
void SendCommand(ConnectionRecord& r, Awaited awaited, std::string_view text) {
  r.ftpAwaited += static_cast<char>(awaited);
  Forward(r, FtpLine(text));
}

// The host is known: the user is identified, the destination and access
// checked and the server connected. False when the client has been answered
// and the connection ends.
bool ConnectToServer(ConnectionRecord& r, std::string_view host) {
  r.host = std::string(host.substr(0, kHostMax));
  r.method = kControlMethod;
  r.path = "/";
  r.url = "ftp://" + r.host + r.path;
  const UserRecord* user = IdentifyConnection(r);
  if (!ResolveTarget(r, r.host)) {
    Finish(r, kError);
    return false;
  }
  if (!r.localServer && !user) {
    RefuseUnidentified(r);
    return false;
  }
  if (!CheckDestination(r) || !CheckAccess(r, false, -1)) return false;
  if (ConnectUpstream(r) != UpstreamResult::kConnected) {
    Finish(r, kError);
    return false;
  }
  // The client has said all the gateway needs: from here on the dialogue is
  // the server's, and its pauses are the user's.
  OpeningComplete(r);
  return true;
}

void TrackRetrieval(ConnectionRecord& r, std::string_view path) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  if (ConnectionRecord* data = r.dataRecord) {
    data->path += path;
    data->url = "ftp://" + data->host + data->path;
  }
}

// The commands the gateway answers itself, with kNotImplemented.
bool AnsweredHere(const FtpCommand& command) {
  return command.name == "lprt" || command.name == "lpsv" ||
         (command.name == "epsv" && EqualsNoCase(command.argument, "all"));
}

// A relayed command waits in clientIn while the gateway could not answer it
// in its turn (an answer of the gateway would overtake the server's to
// earlier commands) or while too many answers are awaited.
bool MustWait(const ConnectionRecord& r, const FtpCommand& command) {
  if (AnsweredHere(command)) return !r.ftpAwaited.empty();
  return r.ftpAwaited.size() >= kAwaitedMax;
}

// PORT and EPRT: the server is told a port of the gateway, which connects to
// the client for it.
void ActiveCommand(ConnectionRecord& r, const FtpCommand& command) {
  auto peer =
      command.name == "port" ? ParsePortArgument(command.argument) : ParseExtendedPortArgument(command.argument);
  std::string rewritten;
  // Data may go only to the client's own machine: a port naming another
  // host would make the gateway send a server's data anywhere.
  if (!peer || peer->address != r.clientAddress || !OpenActiveChannel(r, peer->port, rewritten)) {
    Finish(r, kError);
    return;
  }
  SendCommand(r, kAnswer, rewritten);
}

// One command line in the relaying state.
void RelayCommand(ConnectionRecord& r, const FtpCommand& command) {
  if (AnsweredHere(command)) {
    QueueToClient(r, kNotImplemented);
  } else if (command.name == "port" || command.name == "eprt") {
    ActiveCommand(r, command);
  } else if (command.name == "pasv" || command.name == "epsv") {
    // Later commands wait for the data channel this opens.
    r.state = ConnectionState::kFtpProxyPassive;
    bool extended = command.name == "epsv";
    SendCommand(r, extended ? kExtendedPort : kPassivePort, extended ? "EPSV" : "PASV");
  } else {
    if (command.name == "retr") TrackRetrieval(r, command.argument);
    SendCommand(r, kAnswer, command.text);
  }
}

// The login dialogue with the gateway itself; false once the connection ends.
bool LoginCommand(ConnectionRecord& r, const FtpCommand& command) {
  switch (r.state) {
    case ConnectionState::kFtpControl: {
      if (command.name != "user") break;
      size_t at = command.argument.rfind('@');
      if (at == std::string::npos) {
        r.proxyLogin = command.argument;
        r.state = ConnectionState::kFtpProxyPass;
        QueueToClient(r, Str(kPasswordRequired));
        return true;
      }
      r.ftpLogin = command.argument.substr(0, std::min(at, kLoginMax));
      r.clientInLength = 0;
      // The host runs to the line end.
      if (!ConnectToServer(r, std::string_view(command.rest).substr(at + 1))) return false;
      r.state = ConnectionState::kFtpProxyGreeting;
      return true;
    }
    case ConnectionState::kFtpProxyPass:
      if (command.name != "pass") break;
      r.proxyPassword = command.argument;
      r.state = ConnectionState::kFtpProxyOpen;
      QueueToClient(r, Str(kLoggedIn));
      return true;
    case ConnectionState::kFtpProxyOpen:
      if (command.name != "open" && command.name != "site") break;
      if (!ConnectToServer(r, command.argument)) return false;
      r.state = ConnectionState::kFtpProxyRelay;
      // The server's greeting comes as the first answer.
      r.ftpAwaited += static_cast<char>(kAnswer);
      return true;
    default:
      return true;
  }
  Finish(r, kError);
  return false;
}

bool ClientInput(ConnectionRecord& r) {
  while (!r.serverFinished) {
    ConnectionState state = r.state;
    // While the server's greeting or a data port is awaited, commands wait
    // too.
    if (state == ConnectionState::kFtpProxyGreeting || state == ConnectionState::kFtpProxyPassive) return true;
    size_t length = FirstLineLength(std::string_view(r.clientIn, static_cast<size_t>(r.clientInLength)));
    if (length == 0) {
      if (r.clientInLength == kBufferSize) Finish(r, kError);  // no command is that long
      return true;
    }
    FtpCommand command = ReadFtpCommand(std::string_view(r.clientIn, length));
    bool relaying = state == ConnectionState::kFtpProxyRelay;
    // Relayed commands go out whole or wait for room.
    size_t room = static_cast<size_t>(kBufferSize - r.serverOutLength);
    if (relaying && (std::min(length + kRewrittenMax, static_cast<size_t>(kBufferSize)) > room || MustWait(r, command)))
      return true;
    Drop(r.clientIn, r.clientInLength, length);
    if (relaying) {
      RelayCommand(r, command);
    } else if (!LoginCommand(r, command)) {
      return true;
    }
  }
  r.clientInLength = 0;
  return true;
}

// The oldest awaited answer's kind, taken off the list; kAnswer for an answer
// nobody asked for.
Awaited TakeAwaited(ConnectionRecord& r) {
  if (r.ftpAwaited.empty()) return kAnswer;
  auto awaited = static_cast<Awaited>(r.ftpAwaited.front());
  r.ftpAwaited.erase(0, 1);
  return awaited;
}

// A 227 or 229 answer: the server's data port becomes a data channel through
// the gateway, and the client is told the gateway's port in the form it asked
// for. False when the connection ends.
bool PassiveAnswer(ConnectionRecord& r, Awaited awaited, int code, std::string& line) {
  std::optional<int> serverPort;
  if (awaited == kPassivePort && code == 227) {
    if (auto address = ParsePassiveAnswer(line)) serverPort = address->port;
  } else if (awaited == kExtendedPort && code == 229) {
    serverPort = ParseExtendedPassiveAnswer(line);
  } else {
    // An answer to something else: its port must not reach the client.
    line = Str(kError);
    return true;
  }
  DataAddress listening;
  if (!serverPort || !OpenPassiveChannel(r, *serverPort, listening)) {
    Finish(r, kError);
    return false;
  }
  if (awaited == kExtendedPort)
    line = "229 Entering Extended Passive Mode (|||" + std::to_string(listening.port) + "|)\r\n";
  else
    line = "227 Entering Passive Mode (" + FormatAddressNumbers(listening.address, listening.port) + ")\r\n";
  return true;
}

// One complete reply line of the server; continuation lines never reach
// here.
void ServerReply(ConnectionRecord& r, int code, std::string line) {
  if (r.state == ConnectionState::kFtpProxyGreeting) {
    r.state = ConnectionState::kFtpProxyRelay;
    if (code == 220) {
      // The client had its greeting from the gateway; the server's own is
      // answered with the login the client named.
      std::string user = "USER " + r.ftpLogin;
      if (FtpLine(user).size() > static_cast<size_t>(kBufferSize - r.serverOutLength)) {
        Close(r);
        return;
      }
      SendCommand(r, kAnswer, user);
      return;
    }
  } else if (code < 100 || code >= 200) {
    // A final answer (a preliminary 1xx leaves its command waiting for one).
    Awaited awaited = TakeAwaited(r);
    if (awaited != kAnswer) r.state = ConnectionState::kFtpProxyRelay;
    if ((code == 227 || code == 229) && !PassiveAnswer(r, awaited, code, line)) return;
    if (code == 257) TakeDirectory(r, line);
  }
  QueueToClient(r, line);
}

void ServerInput(ConnectionRecord& r) {
  while (r.serverInLength > 0 && !r.serverFinished) {
    size_t length = FirstLineLength(std::string_view(r.serverIn, static_cast<size_t>(r.serverInLength)));
    if (length == 0) {
      // A line longer than the buffer never completes: it is no reply.
      if (r.serverInLength == kBufferSize) r.serverInLength = 0;
      break;
    }
    std::string line(r.serverIn, length);
    Drop(r.serverIn, r.serverInLength, length);
    int code = ReplyCode(line);
    if (code >= 0) ServerReply(r, code, std::move(line));
  }
  if (r.serverFinished) r.serverInLength = 0;
  // Commands that waited for these answers go on.
  if (r.clientInLength > 0) ClientInput(r);
}

// A data record of the proxy relays both ways as it is.
bool DataClientInput(ConnectionRecord& r) {
  MoveToServer(r, r.clientIn, r.clientInLength);
  return true;
}

void DataServerInput(ConnectionRecord& r) { MoveToClient(r, r.serverIn, r.serverInLength); }

}  // namespace

void RegisterFtpProxy() {
  ProtocolHandlers control;
  control.clientInput = ClientInput;
  control.serverInput = ServerInput;
  RegisterProtocolHandlers(kServiceFtpControl, control);
  ProtocolHandlers data;
  data.clientInput = DataClientInput;
  data.serverInput = DataServerInput;
  RegisterProtocolHandlers(kServiceFtpData, data);
}

}  // namespace brindlex
