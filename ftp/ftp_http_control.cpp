#include "ftp/ftp_http_control.h"

#include <cstring>
#include <mutex>

#include "core/chars.h"
#include "core/connection.h"
#include "core/message_file.h"
#include "core/process_state.h"
#include "ftp/ftp_data_channel.h"
#include "ftp/ftp_reply.h"
#include "http/http_head.h"
#include "http/reply_page.h"
#include "http/template.h"
#include "net/relay.h"

namespace brindlex {

namespace {

constexpr int kFailureMessage = 425;

void Send(ConnectionRecord& r, std::string command) {
  r.lastFtpCommand = command;
  command += "\r\n";
  // A command that does not fit would go out cut in two.
  if (command.size() > static_cast<size_t>(kBufferSize - r.serverOutLength)) {
    Close(r);
    return;
  }
  int length = static_cast<int>(command.size());
  MoveToServer(r, command.data(), length);
}

void Fail(ConnectionRecord& r, std::string_view line) {
  r.state = ConnectionState::kFtpFailed;
  CloseDataChannel(r);
  size_t end = line.find_first_of("\r\n");
  // The page may stay on a shared screen or in a browser's history: a
  // refused login names the command, not the password.
  std::string command = StartsWithNoCase(r.lastFtpCommand, "PASS ") ? "PASS ***" : r.lastFtpCommand;
  SendMessagePage(r, FtpFailureText(MessageText(kFailureMessage), r.host, command, line.substr(0, end)));
}

// The data channel is open: the directory is entered, or the file asked for
// in binary.
void RequestTheObject(ConnectionRecord& r) {
  r.path = UrlDecode(r.path);
  if (!r.path.empty() && r.path.back() == '/') {
    r.state = ConnectionState::kFtpDirectory;
    Send(r, "CWD " + r.path);
  } else {
    r.state = ConnectionState::kFtpBinary;
    Send(r, "TYPE I");
  }
}

void OpenDataChannel(ConnectionRecord& r, int code, std::string_view line) {
  if (code == 227) {
    auto address = ParsePassiveAnswer(line);
    DataAddress unused;
    if (address && OpenPassiveChannel(r, address->port, unused)) {
      RequestTheObject(r);
      return;
    }
  } else {
    std::string command;
    if (OpenActiveChannel(r, 0, command)) {
      r.state = ConnectionState::kFtpChannelReady;
      Send(r, command);
      return;
    }
  }
  SendReplyPage(r, ReplyKind::kNotFound);
}

void StartTransfer(ConnectionRecord& r) {
  bool haveData = false;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    if (ConnectionRecord* data = r.dataRecord) {
      data->state = ConnectionState::kHttpFtpFileStart;
      haveData = true;
    }
  }
  if (!haveData) {
    r.serverFinished = true;
    return;
  }
  r.state = ConnectionState::kFtpTransfer;
  Send(r, "RETR " + r.path);
}

void HandleReply(ConnectionRecord& r, int code, std::string_view line) {
  switch (r.state) {
    case ConnectionState::kFtpGreeting:
      if (code != 220) break;
      r.state = ConnectionState::kFtpLogin;
      Send(r, "USER " + r.ftpLogin);
      return;
    case ConnectionState::kFtpLogin:
      if (code == 331) {
        Send(r, "PASS " + r.ftpPassword);
        return;
      }
      if (code != 230) break;
      r.state = ConnectionState::kFtpPassive;
      Send(r, "PASV");
      return;
    case ConnectionState::kFtpPassive:
      OpenDataChannel(r, code, line);
      return;
    case ConnectionState::kFtpChannelReady:
      if (code != 200) break;
      RequestTheObject(r);
      return;
    case ConnectionState::kFtpDirectory:
      if (code == 250) {
        Send(r, "PWD");
        return;
      }
      if (code == 257) {
        TakeDirectory(r, line);
        r.state = ConnectionState::kFtpTransfer;
        Send(r, "LIST");
        return;
      }
      if (code >= 500 && (r.path.empty() || r.path.back() != '/')) {
        r.state = ConnectionState::kFtpBinary;
        Send(r, "TYPE I");
        return;
      }
      break;
    case ConnectionState::kFtpBinary:
      if (code != 200) break;
      StartTransfer(r);
      return;
    case ConnectionState::kFtpTransfer:
      if (code == 125 || code == 150 || code == 226) return;
      break;
    default:
      return;
  }
  Fail(r, line);
}

}  // namespace

void FtpHttpControl(ConnectionRecord& r) {
  while (r.state != ConnectionState::kFtpFailed && !r.serverFinished) {
    size_t length = FirstLineLength(std::string_view(r.serverIn, static_cast<size_t>(r.serverInLength)));
    if (length == 0) {
      // A line longer than the buffer never completes: it is no reply.
      if (r.serverInLength == kBufferSize) r.serverInLength = 0;
      return;
    }
    std::string line(r.serverIn, length);
    int code = ReplyCode(line);
    if (code < 0) {
      DropServerInput(r, length);
      continue;
    }
    r.serverInLength = 0;
    HandleReply(r, code, line);
    return;
  }
  r.serverInLength = 0;
}

std::string FtpFailureText(std::string_view format, std::string_view host, std::string_view command,
                           std::string_view reply) {
  const std::string_view values[] = {host, command, reply};
  std::string text;
  size_t used = 0;
  size_t at = 0;
  while (at < format.size()) {
    size_t next = format.find("%s", at);
    if (next == std::string_view::npos || used == std::size(values)) break;
    text.append(format.substr(at, next - at)).append(HtmlEscape(values[used++]));
    at = next + 2;
  }
  return text.append(format.substr(at));
}

}  // namespace brindlex
