#include "mail/pop3_front.h"

#include <string>
#include <string_view>

#include "core/chars.h"
#include "core/connection.h"
#include "core/settings.h"
#include "mail/mail_commands.h"
#include "mail/mail_session.h"
#include "net/protocol_handlers.h"
#include "net/relay.h"

namespace brindlex {

namespace {

constexpr std::string_view kMistake = "-ERR Brindlex: Mistake of the protocol\r\n";
constexpr std::string_view kNoSeparator = "-ERR Brindlex: Limiter not found\r\n";
constexpr std::string_view kNoAddress = "-ERR Brindlex: E-mail is empty\r\n";
constexpr std::string_view kConnectFailed = "-ERR Brindlex: Error connected\r\n";

std::string_view RefusalOf(Pop3UserResult result) {
  switch (result) {
    case Pop3UserResult::kNoSeparator:
      return kNoSeparator;
    case Pop3UserResult::kNoAddress:
      return kNoAddress;
    default:
      return kMistake;
  }
}

// Await USER.
void User(ConnectionRecord& r, std::string_view line) {
  const auto settings = Settings();
  Pop3User user = ParsePop3User(line, settings->PostLimiter);
  if (user.result != Pop3UserResult::kOk) {
    EndWithReply(r, RefusalOf(user.result));
    return;
  }
  r.proxyLogin.assign(user.address);
  std::string command = "USER " + std::string(user.mailbox) + "\r\n";
  DropClientInput(r, line.size());
  if (!ConnectMailServer(r, MailProtocol::kPop3, kConnectFailed)) return;
  r.ftpLogin = std::move(command);
  r.state = ConnectionState::kPop3Greeting;
}

bool ClientInput(ConnectionRecord& r) {
  switch (r.state) {
    case ConnectionState::kPop3: {
      std::optional<std::string_view> line = ClientLine(r, kMistake);
      if (!line) return false;
      User(r, *line);
      return true;
    }
    case ConnectionState::kPop3Relay:
      MoveToServer(r, r.clientIn, r.clientInLength);
      return true;
    default:
      // USER goes to the server first; what the client sent after it waits.
      return true;
  }
}

// Await greeting: the server's first line, once complete, must begin with '+'.
void GreetingStep(ConnectionRecord& r) {
  std::string_view in(r.serverIn, static_cast<size_t>(r.serverInLength));
  size_t length = FirstLineLength(in);
  if (length == 0 || in.front() != '+') {
    // The line may still be on its way, unless the buffer holds no room for
    // it or the server has gone.
    if (length == 0 && r.serverInLength < kBufferSize && !r.serverFinished) return;
    ServerFailed(r, kConnectFailed);
    return;
  }
  StartRelay(r, r.ftpLogin, ConnectionState::kPop3Relay);
}

void ServerInput(ConnectionRecord& r) {
  switch (r.state) {
    case ConnectionState::kPop3Greeting:
      GreetingStep(r);
      break;
    case ConnectionState::kPop3Relay:
      MoveToClient(r, r.serverIn, r.serverInLength);
      break;
    default:
      r.serverInLength = 0;
      break;
  }
}

// A server that closes or fails before its greeting could not be reached.
void AnswerEnded(ConnectionRecord& r, bool) {
  if (ServerEndUnanswered(r, r.state == ConnectionState::kPop3Greeting)) ServerFailed(r, kConnectFailed);
}

InputEnd ClientInputEnded(const ConnectionRecord& r) {
  switch (r.state) {
    case ConnectionState::kPop3Relay:
      return InputEnd::kPassedOn;
    case ConnectionState::kPop3Greeting:
      // USER is still to be replayed, and what came after it served.
      return InputEnd::kAnswerFollows;
    default:
      return InputEnd::kConnectionEnds;
  }
}

int BypassRoom(const ConnectionRecord& r, int room) { return r.state == ConnectionState::kPop3Relay ? room : 0; }

}  // namespace

void RegisterPop3Front() {
  ProtocolHandlers handlers;
  handlers.clientInput = ClientInput;
  handlers.serverInput = ServerInput;
  handlers.clientInputEnded = ClientInputEnded;
  handlers.answerEnded = AnswerEnded;
  handlers.bypassRoom = BypassRoom;
  RegisterProtocolHandlers(kServicePop3, handlers);
}

}  // namespace brindlex
