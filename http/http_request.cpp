#include "http/http_request.h"

#include <cstring>
#include <string>

#include "core/connection.h"
#include "core/host_names.h"
#include "core/settings.h"
#include "core/users.h"
#include "http/access_gate.h"
#include "http/http_cache.h"
#include "http/http_head.h"
#include "http/local_server.h"
#include "http/message_body.h"
#include "http/next_hop.h"
#include "http/reply_page.h"
#include "net/relay.h"

namespace brindlex {

static_assert(kRequestMethodMax == kMethodMax && kRequestHostMax == kHostMax);
static_assert(kRequestHeadMax == static_cast<size_t>(kBufferSize));

namespace {

FtpReplyHandler g_ftpReplies = nullptr;

// A CR, LF or NUL in what goes into an FTP command line would end that
// command and start one of the client's choosing.
bool UnsafeInFtpCommand(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool FtpRequestUnsafe(const ConnectionRecord& r) {
  return UnsafeInFtpCommand(r.ftpLogin) || UnsafeInFtpCommand(r.ftpPassword) || UnsafeInFtpCommand(UrlDecode(r.path));
}

void ApplyHead(ConnectionRecord& r, const RequestHead& head) {
  const RequestLine& line = head.line;
  r.method = line.method;
  r.url = line.url;
  r.host = line.host;
  r.path = line.path;
  if (line.hasUrlCredentials) {
    r.ftpLogin = line.urlLogin;
    if (line.hasUrlPassword) r.ftpPassword = line.urlPassword;
  }
  r.noCache = r.noCache || head.cache.noCache;
  r.noStore = r.noStore || head.cache.noStore;
  r.conditions = head.conditions;
  r.requestBody = head.body;
  r.hasAuthorization = head.hasAuthorization;
  r.proxyLogin = head.proxyLogin;
  r.proxyPassword = head.proxyPassword;
  // The credentials a browser sends to an origin serve for the proxy too
  // when it gave none of its own.
  if (r.proxyLogin.empty() && head.hasBasicAuthorization) {
    r.proxyLogin = head.authLogin;
    r.proxyPassword = head.authPassword;
  }
}

// The Host line for the next hop: the host the request is going to, never
// one the client named besides (a cache keyed on the URL would keep another
// server's page under it). The port stays unless it is the scheme's default.
std::string HostLine(const ConnectionRecord& r) {
  HostPort parts;
  SplitHostPort(r.host, parts);
  int defaultPort = StartsWithNoCase(r.url, "ftp:") ? 21 : 80;
  std::string line = "Host: " + std::string(parts.name);
  if (parts.port != 0 && parts.port != defaultPort) line += ":" + std::to_string(parts.port);
  return line + "\r\n";
}

// The line that tells the next hop where the body ends, as it was read here.
std::string BodyLine(const MessageBody& body) {
  switch (body.framing) {
    case MessageBody::Framing::kLength:
      return "Content-Length: " + std::to_string(body.left) + "\r\n";
    case MessageBody::Framing::kChunked:
      return "Transfer-Encoding: chunked\r\n";
    default:
      return {};
  }
}

// Queues the rebuilt head for the next hop; false when it cannot be built
// within serverOut (a request line too long to rebuild).
bool QueueOutgoingHead(ConnectionRecord& r, const RequestHead& head, bool parentProxy) {
  char area[kOutgoingHeadSize];
  std::string extra = HostLine(r) + BodyLine(r.requestBody) + ParentProxyAuthorization(r);
  size_t length = BuildOutgoingHead(head, r.clientIn, parentProxy ? r.url : r.path, extra,
                                    HeadCompletion(r.conditions).size(), area, sizeof(area));
  if (length == 0 || static_cast<int>(length) > kBufferSize - r.serverOutLength) return false;
  int remaining = static_cast<int>(length);
  MoveToServer(r, area, remaining);
  DropClientInput(r, head.headLength);
  return true;
}

}  // namespace

bool HttpRequestStep(ConnectionRecord& r) {
  RequestHead head;
  const auto snapshot = Settings();
  const SystemSettings& settings = *snapshot;
  HeadStatus status = ParseRequestHead(r.clientIn, static_cast<size_t>(r.clientInLength), settings.CachCookie, head);
  if (status == HeadStatus::Incomplete) return true;

  r.state = ConnectionState::kHeadParsed;
  r.conditions = {};
  if (!settings.EnableCach || settings.CachTimeStored == 0) r.noCache = r.noStore = true;
  // A head that cannot be forwarded as it stands (HeadStatus tells why), or
  // one that does not end within the input buffer: the client learns that
  // the page cannot be had, and the connection ends.
  if (status != HeadStatus::Ok) {
    SendReplyPage(r, status == HeadStatus::TooLarge ? ReplyKind::kHeadTooLarge : ReplyKind::kBadRequest);
    return false;
  }
  ApplyHead(r, head);

  const UserRecord* user = IdentifyConnection(r);
  if (user && user->byAddress && head.line.loginLink) {
    // The login link asks the browser for a login, with which the next
    // request is identified by name instead of by address.
    SendReplyPage(r, ReplyKind::kProxyAuth);
    return false;
  }

  if (!ResolveTarget(r, r.host)) {
    SendReplyPage(r, ReplyKind::kBadRequest);
    return false;
  }
  if (IsGatewayRequest(r)) {
    AnswerGatewayRequest(r);
    return false;
  }
  if (r.serverFinished || r.readFile >= 0) return false;

  if (!r.localServer && !user) {
    RefuseUnidentified(r);
    return false;
  }
  if (!CheckDestination(r) || !CheckAccess(r, false, -1)) return false;

  if ((r.path.find('?') != std::string::npos && !settings.CachGetWithPar) || !EqualsNoCase(r.method, "get") ||
      (r.localServer && !settings.CachLocalHosts))
    r.noStore = true;

  if (StartsWithNoCase(r.url, "ftp:") && !settings.EnableParentProxy) {
    if (!settings.EnableFtpHttp || !g_ftpReplies) {
      SendReplyPage(r, ReplyKind::kFtpDisabled);
    } else if (FtpRequestUnsafe(r)) {
      SendReplyPage(r, ReplyKind::kBadRequest);
    } else {
      r.state = ConnectionState::kFtpGreeting;
    }
    return false;
  }

  r.state = ConnectionState::kRelay;
  if (StartsWithNoCase(r.method, "connect") && !settings.EnableParentProxy) {
    r.state = ConnectionState::kTunnel;
    // Bytes the client sent after the CONNECT head (an eager TLS hello) are
    // the first bytes of the tunnel, not garbage.
    DropClientInput(r, head.headLength);
    MoveToServer(r, r.clientIn, r.clientInLength);
    SendReplyPage(r, ReplyKind::kTunnel);
    return false;
  }
  if (!QueueOutgoingHead(r, head, settings.EnableParentProxy)) {
    r.state = ConnectionState::kHeadParsed;
    SendReplyPage(r, ReplyKind::kHeadTooLarge);
  }
  return false;
}

void ForwardMessageBody(ConnectionRecord& r) {
  size_t offered = static_cast<size_t>(std::min(r.clientInLength, kBufferSize - r.serverOutLength));
  int body = static_cast<int>(TakeBody(r.requestBody, r.clientIn, offered));
  if (BodyBroken(r.requestBody)) {
    // The next hop has part of a body that cannot be completed. Before it has
    // answered, the client can still hear why; afterwards only the close.
    if (r.bytesReceived == 0) {
      r.state = ConnectionState::kHeadParsed;
      SendReplyPage(r, ReplyKind::kBadRequest);
    } else {
      r.serverFinished = true;
      r.clientClosed = true;
    }
    return;
  }
  int moving = body;
  MoveToServer(r, r.clientIn, moving);
  DropClientInput(r, static_cast<size_t>(body));
  // What follows the body is the client's next request. This connection
  // carries one request only, so it is never forwarded: it is dropped, and
  // the connection ends with this answer.
  if (BodyEnded(r.requestBody)) r.clientInLength = 0;
}

bool RequestComplete(const ConnectionRecord& r) {
  MessageBody rest = r.requestBody;
  TakeBody(rest, r.clientIn, static_cast<size_t>(r.clientInLength));
  return BodyEnded(rest);
}

void CompleteOutgoingHead(ConnectionRecord& r) {
  std::string completion = HeadCompletion(r.conditions);
  int length = static_cast<int>(completion.size());
  MoveToServer(r, completion.data(), length);
}

void HttpHandOver(ConnectionRecord& r) {
  UpstreamResult result = UpstreamResult::kConnected;
  switch (r.state) {
    case ConnectionState::kRelay:
      // The cache may answer instead of the origin, or turn the request into
      // a revalidation (kRevalidating) that carries its own ending.
      if (!r.serverFinished && r.readFile < 0) CacheLookup(r);
      if (r.serverFinished || r.readFile >= 0) return;
      if (r.state != ConnectionState::kRevalidating) CompleteOutgoingHead(r);
      result = ConnectNextHop(r);
      break;
    case ConnectionState::kFtpGreeting:
      if (ListingCacheable(r)) CacheLookup(r);
      if (r.serverFinished || r.readFile >= 0) return;
      result = ConnectUpstream(r);
      break;
    case ConnectionState::kTunnel:
      result = ConnectUpstream(r);
      break;
    default:
      return;
  }
  // The tunnel's 200 answer has not been sent yet, so it is simply replaced.
  if (result != UpstreamResult::kConnected)
    SendReplyPage(r, result == UpstreamResult::kDialUpDenied ? ReplyKind::kDialUpDenied : ReplyKind::kNotFound);
}

void RegisterFtpOverHttp(FtpReplyHandler handler) { g_ftpReplies = handler; }

bool InFtpDialogue(const ConnectionRecord& record) {
  int state = StateNumber(record.state);
  return state >= StateNumber(ConnectionState::kFtpGreeting) && state <= StateNumber(ConnectionState::kFtpFailed);
}

void FtpServerInput(ConnectionRecord& record) { g_ftpReplies(record); }

}  // namespace brindlex
