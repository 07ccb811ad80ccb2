#include "ftp/ftp_proxy.h"

#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "core/chars.h"
#include "core/connection.h"
#include "core/process_state.h"
#include "core/strings.h"
#include "core/value_codec.h"
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

// One command line of the client: its name (compared on its first four
// letters) and its argument (after blanks, up to a blank or the line end).
struct Command {
  std::string_view line;
  std::string_view argument;
  bool Is(std::string_view name) const {
    return line.size() >= 4 && EqualsNoCase(line.substr(0, 4), name) && (line.size() == 4 || !IsLetter(line[4]));
  }
};

Command ReadCommand(std::string_view line) {
  size_t at = 0;
  while (at < line.size() && !IsBlank(line[at]) && !IsLineEnd(line[at])) ++at;
  at = SkipBlanks(line, at);
  size_t end = at;
  while (end < line.size() && !IsBlank(line[end]) && !IsLineEnd(line[end])) ++end;
  return {line, line.substr(at, end - at)};
}

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

// One command line in the relaying state.
void RelayCommand(ConnectionRecord& r, const Command& command) {
  if (command.Is("port")) {
    auto peer = ParsePortArgument(command.argument);
    std::string rewritten;
    // Data may go only to the client's own machine: a PORT naming another
    // host would make the gateway send a server's data anywhere.
    if (!peer || peer->address != r.clientAddress || !OpenActiveChannel(r, peer->port, rewritten)) {
      Finish(r, kError);
      return;
    }
    Forward(r, rewritten + "\r\n");
    return;
  }
  if (command.Is("pasv")) r.state = ConnectionState::kFtpProxyPassive;
  if (command.Is("retr")) TrackRetrieval(r, command.argument);
  Forward(r, command.line);
}

// The login dialogue with the gateway itself; false once the connection ends.
bool LoginCommand(ConnectionRecord& r, const Command& command) {
  switch (r.state) {
    case ConnectionState::kFtpControl: {
      if (!command.Is("user")) break;
      size_t at = command.argument.rfind('@');
      if (at == std::string_view::npos) {
        r.proxyLogin = std::string(command.argument);
        r.state = ConnectionState::kFtpProxyPass;
        QueueToClient(r, Str(kPasswordRequired));
        return true;
      }
      r.ftpLogin = std::string(command.argument.substr(0, std::min(at, kLoginMax)));
      // The host runs to the line end.
      std::string_view rest = command.line.substr(command.argument.data() - command.line.data() + at + 1);
      size_t end = rest.find_first_of("\r\n");
      r.clientInLength = 0;
      if (!ConnectToServer(r, rest.substr(0, end))) return false;
      r.state = ConnectionState::kFtpProxyGreeting;
      return true;
    }
    case ConnectionState::kFtpProxyPass:
      if (!command.Is("pass")) break;
      r.proxyPassword = std::string(command.argument);
      r.state = ConnectionState::kFtpProxyOpen;
      QueueToClient(r, Str(kLoggedIn));
      return true;
    case ConnectionState::kFtpProxyOpen:
      if (!command.Is("open") && !command.Is("site")) break;
      if (!ConnectToServer(r, command.argument)) return false;
      r.state = ConnectionState::kFtpProxyRelay;
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
    // While the server's greeting or 227 is awaited, commands wait too.
    if (state == ConnectionState::kFtpProxyGreeting || state == ConnectionState::kFtpProxyPassive) return true;
    size_t length = FirstLineLength(std::string_view(r.clientIn, static_cast<size_t>(r.clientInLength)));
    if (length == 0) {
      if (r.clientInLength == kBufferSize) Finish(r, kError);  // no command is that long
      return true;
    }
    // Relayed commands go out whole or wait for room.
    if (state == ConnectionState::kFtpProxyRelay && static_cast<int>(length) > kBufferSize - r.serverOutLength)
      return true;
    std::string line(r.clientIn, length);
    Drop(r.clientIn, r.clientInLength, length);
    Command command = ReadCommand(line);
    if (state == ConnectionState::kFtpProxyRelay) {
      RelayCommand(r, command);
    } else if (!LoginCommand(r, command)) {
      return true;
    }
  }
  r.clientInLength = 0;
  return true;
}

// One complete reply line of the server; continuation lines never reach
// here.
void ServerReply(ConnectionRecord& r, int code, std::string line) {
  switch (r.state) {
    case ConnectionState::kFtpProxyGreeting:
      r.state = ConnectionState::kFtpProxyRelay;
      if (code == 220) {
        // The client had its greeting from the gateway; the server's own is
        // answered with the login the client named.
        std::string user = "USER " + r.ftpLogin + "\r\n";
        if (static_cast<int>(user.size()) > kBufferSize - r.serverOutLength) {
          Close(r);
          return;
        }
        Forward(r, user);
        return;
      }
      break;
    case ConnectionState::kFtpProxyPassive:
      r.state = ConnectionState::kFtpProxyRelay;
      if (code == 227) {
        auto address = ParsePassiveAnswer(line);
        std::string answer;
        if (!address || !OpenPassiveChannel(r, address->port, answer)) {
          Finish(r, kError);
          return;
        }
        line = answer + "\r\n";
      }
      break;
    default:
      if (code == 257) TakeDirectory(r, line);
      break;
  }
  QueueToClient(r, line);
}

void ServerInput(ConnectionRecord& r) {
  while (r.serverInLength > 0 && !r.serverFinished) {
    size_t length = FirstLineLength(std::string_view(r.serverIn, static_cast<size_t>(r.serverInLength)));
    if (length == 0) {
      // A line longer than the buffer never completes: it is no reply.
      if (r.serverInLength == kBufferSize) r.serverInLength = 0;
      return;
    }
    std::string line(r.serverIn, length);
    Drop(r.serverIn, r.serverInLength, length);
    int code = ReplyCode(line);
    if (code >= 0) ServerReply(r, code, std::move(line));
  }
  if (r.serverFinished) r.serverInLength = 0;
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
