#include "http/reply_page.h"

#include <string>
#include <string_view>

#include "core/connection.h"
#include "core/message_file.h"
#include "core/strings.h"
#include "http/template.h"
#include "net/relay.h"

namespace brindlex {

namespace {

constexpr int kPlainOk = 400;  // the status line of string 400, "200 OK"
constexpr std::string_view kMessagePage = "message.html";
constexpr std::string_view kRefusalPage = "restrictions.html";

int StatusString(ReplyKind kind) {
  switch (kind) {
    case ReplyKind::kNotFound:
      return 405;
    case ReplyKind::kProxyAuth:
      return 406;
    case ReplyKind::kTunnel:
      return 401;
    case ReplyKind::kWwwAuth:
      return 416;
    case ReplyKind::kBadRequest:
      return 407;
    case ReplyKind::kHeadTooLarge:
      return 408;
    default:
      return kPlainOk;
  }
}

std::string Message(ReplyKind kind) {
  switch (kind) {
    case ReplyKind::kNotFound:
    case ReplyKind::kBadRequest:
    case ReplyKind::kHeadTooLarge:
      return MessageText(421);
    case ReplyKind::kProxyAuth:
    case ReplyKind::kWwwAuth:
      return MessageText(kProxyAuthMessage);
    case ReplyKind::kFtpDisabled:
      return MessageText(426);
    case ReplyKind::kDialUpDenied:
      return MessageText(427);
    default:
      return std::string();
  }
}

void SendPage(ConnectionRecord& record, int status, std::string_view file, std::string message) {
  std::string head, tail;
  if (FillTemplate(record, std::string(file), head, &tail)) {
    // The challenge page itself comes from message.html; should that need a
    // user too, it is shown as far as it could be filled.
    status = StatusString(ReplyKind::kProxyAuth);
    message = Message(ReplyKind::kProxyAuth);
    if (file != kMessagePage) FillTemplate(record, std::string(kMessagePage), head, &tail);
  }
  ReplaceClientOutput(record, Str(status) + Str(415) + head + message + tail);
  record.serverFinished = true;
}

}  // namespace

void SendReplyPage(ConnectionRecord& record, ReplyKind kind) {
  if (kind == ReplyKind::kTunnel) {
    ReplaceClientOutput(record, Str(StatusString(kind)) + Str(415));
    return;
  }
  SendPage(record, StatusString(kind), kMessagePage, Message(kind));
}

void SendMessagePage(ConnectionRecord& record, const std::string& message) {
  SendPage(record, kPlainOk, kMessagePage, message);
}

void SendRefusalPage(ConnectionRecord& record, int messageNumber) {
  SendPage(record, kPlainOk, kRefusalPage, MessageText(messageNumber));
}

}  // namespace brindlex
