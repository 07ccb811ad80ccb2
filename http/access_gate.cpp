#include "http/access_gate.h"

#include <mutex>

#include "core/accounting.h"
#include "core/connection.h"
#include "core/identification.h"
#include "core/process_state.h"
#include "core/refusal_monitor.h"
#include "core/sessions.h"
#include "core/strings.h"
#include "core/users.h"
#include "http/reply_page.h"
#include "net/relay.h"
#include "net/upstream.h"

namespace brindlex {

namespace {

constexpr int kFtpNotLoggedIn = 433;
constexpr const char* kSmtpRefused = "550 Brindlex: Traffic is limited\r\n";
constexpr const char* kPop3Refused = "-ERR Brindlex: Traffic is limited\r\n";
constexpr const char* kSmtpUnidentified = "550 Brindlex: Unauthorized\r\n";
constexpr const char* kPop3Unidentified = "-ERR Brindlex: Unauthorized\r\n";

// Each service answers a refusal in its own protocol.
void AnswerRefusal(ConnectionRecord& record, int code) {
  switch (record.service) {
    case kServiceHttp:
    case kServiceHttpFtpData:
      SendRefusalPage(record, code);
      break;
    case kServiceFtpControl:
      ReplaceClientOutput(record, Str(436));
      break;
    case kServiceSmtp:
      ReplaceClientOutput(record, kSmtpRefused);
      break;
    case kServicePop3:
      ReplaceClientOutput(record, kPop3Refused);
      break;
    default:
      break;
  }
}

void Refuse(ConnectionRecord& record, int code) {
  AnswerRefusal(record, code);
  ReportRefused(record, code, false);
  // Refused: nothing of it is counted or logged from here on.
  record.serverFinished = true;
  record.localServer = true;
}

}  // namespace

void ReportRefused(const ConnectionRecord& record, int message, bool failedLogin) {
  const UserRecord* user = ConnectionUser(record);
  ReportRefusal(
      {record.service, record.clientAddress, user ? user->login : record.proxyLogin, record.url, message, failedLogin});
}

void RefuseUnidentified(ConnectionRecord& record) {
  switch (record.service) {
    case kServiceFtpControl:
      ReplaceClientOutput(record, Str(kFtpNotLoggedIn));
      record.serverFinished = true;
      break;
    case kServiceSmtp:
      ReplaceClientOutput(record, kSmtpUnidentified);
      record.serverFinished = true;
      break;
    case kServicePop3:
      ReplaceClientOutput(record, kPop3Unidentified);
      record.serverFinished = true;
      break;
    default:
      SendReplyPage(record, ReplyKind::kProxyAuth);
      break;
  }
  ReportRefused(record, kProxyAuthMessage, true);
}

bool CheckDestination(ConnectionRecord& record) {
  if (record.serverFinished || !RefusedDestination(record.serverAddress)) return true;
  Refuse(record, kLoopbackRefusal);
  return false;
}

const UserRecord* IdentifyConnection(ConnectionRecord& record) {
  if (record.userSession) return record.userSession->user;
  Credentials credentials;
  credentials.service = record.service;
  credentials.clientAddress = record.clientAddress;
  credentials.login = record.proxyLogin;
  credentials.password = record.proxyPassword;
  // The mail front ends put the sender's or the mailbox owner's address
  // where the proxy services keep the login.
  credentials.mailAddress = record.proxyLogin;
  // So does port mapping for the user its rule names.
  credentials.portMapUser = record.proxyLogin;
  std::lock_guard<std::mutex> lock(AccountsLock());
  UserRecord* user = IdentifyLocked(credentials);
  AttachLocked(record, user);
  return user;
}

bool CheckAccess(ConnectionRecord& record, bool documentMode, std::int64_t contentLength) {
  UserSession* session = record.userSession;
  if (record.localServer || record.serverFinished || record.clientClosed || !session) return true;
  int code =
      AccessRefusal(*session->user, record.service, record.clientAddress, record.url, documentMode, contentLength);
  if (code == 0) {
    std::lock_guard<std::mutex> lock(AccountsLock());
    if (session->stamp == 0) session->stamp = record.startCounter;
    return true;
  }
  Refuse(record, code);
  return false;
}

}  // namespace brindlex
