#include "http/next_hop.h"

#include <algorithm>

#include "core/connection.h"
#include "core/host_names.h"
#include "core/identification.h"
#include "core/settings.h"
#include "core/users.h"
#include "core/value_codec.h"
#include "http/access_gate.h"
#include "http/http_head.h"
#include "http/local_server.h"

namespace brindlex {

namespace {

// A DNS name is at most 253 characters; anything longer is no host.
constexpr size_t kHostNameMax = 253;

}  // namespace

bool ResolveTarget(ConnectionRecord& record, std::string_view hostText) {
  HostPort target;
  if (!SplitHostPort(hostText, target) || target.name.size() > kHostNameMax) {
    record.serverAddress = kNoAddress;
    record.serverPort = 0;
    record.localServer = false;
    ReportRefused(record, kBadHostMessage, false);
    return false;
  }
  std::string_view name = target.name;
  if (target.port != 0) {
    record.serverPort = target.port;
  } else if (record.service == kServiceHttp) {
    record.serverPort =
        record.url.size() >= 4 && EqualsNoCase(std::string_view(record.url).substr(0, 4), "ftp:") ? 21 : 80;
  } else if (record.service == kServiceHttpFtpData || record.service == kServiceFtpControl) {
    record.serverPort = 21;
  }

  if (IsGatewayName(name)) {
    record.localServer = true;
    return true;
  }
  record.serverAddress = ResolveUpstream(record, std::string(name));
  MarkLocalServer(record, name);
  return true;
}

UpstreamResult ConnectNextHop(ConnectionRecord& record) {
  const auto snapshot = Settings();
  const SystemSettings& settings = *snapshot;
  if (settings.EnableParentProxy && settings.CascadeIP != kNoAddress) {
    record.serverAddress = settings.CascadeIP;
    record.serverPort = settings.CascadePort;
  }
  return ConnectUpstream(record);
}

std::string ParentProxyAuthorization(const ConnectionRecord& record) {
  const auto snapshot = Settings();
  const SystemSettings& settings = *snapshot;
  if (!settings.EnableParentProxy) return {};
  std::string credentials;
  const UserRecord* user = ConnectionUser(record);
  if (user && user->rules.passAuthToParent) {
    credentials = user->login + ":" + user->password;
  } else if (settings.EnableParentProxyAut) {
    credentials = settings.ParentProxyUser + ":" + settings.ParentProxyPassword;
  } else {
    return {};
  }
  return "Proxy-Authorization: Basic " + Base64Encode(credentials) + "\r\n";
}

}  // namespace brindlex
