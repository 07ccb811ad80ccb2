#include "http/reply_page.h"

#include <string>

#include "core/connection.h"
#include "core/message_file.h"
#include "core/strings.h"
#include "http/template.h"
#include "net/relay.h"

namespace brindlex {

namespace {

int StatusString(int kind) {
  switch (kind) {
    case kReplyNotFound:
      return 405;
    case kReplyProxyAuth:
      return 406;
    case kReplyTunnel:
      return 401;
    case kReplyWwwAuth:
      return 416;
    default:
      return 400;
  }
}

std::string Message(int kind, std::string_view text) {
  switch (kind) {
    case kReplyNotFound:
      return MessageText(421);
    case kReplyProxyAuth:
    case kReplyWwwAuth:
      return MessageText(422);
    case kReplyFtpDisabled:
      return MessageText(426);
    case kReplyDialUpDenied:
      return MessageText(427);
    default:
      return std::string(text);
  }
}

}  // namespace

void SendReplyPage(ConnectionRecord& record, int kind, std::string_view text) {
  if (kind == kReplyTunnel) {
    ReplaceClientOutput(record, Str(StatusString(kind)) + Str(415));
    return;
  }
  std::string file = kind >= kReplyRestriction ? "restrictions.html" : "message.html";
  if (kind >= kReplyRestriction) kind = kReplyText;
  std::string head, tail;
  if (FillTemplate(record, file, head, &tail)) {
    // The challenge page itself comes from message.html; should that need a
    // user too, it is shown as far as it could be filled.
    kind = kReplyProxyAuth;
    if (file != "message.html") FillTemplate(record, "message.html", head, &tail);
  }
  ReplaceClientOutput(record, Str(StatusString(kind)) + Str(415) + head + Message(kind, text) + tail);
  record.serverFinished = true;
}

}  // namespace brindlex
