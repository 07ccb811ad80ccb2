#include "http/next_hop.h"

#include <algorithm>

#include "core/connection.h"
#include "core/identification.h"
#include "core/settings.h"
#include "core/users.h"
#include "core/value_codec.h"
#include "http/http_head.h"
#include "http/local_server.h"

namespace brindlex {

namespace {

constexpr size_t kHostNameMax = 1023;

}  // namespace

void ResolveTarget(ConnectionRecord& record, std::string_view hostText) {
  if (EqualsNoCase(hostText, kGatewayHostName)) {
    record.localServer = true;
    return;
  }
  HostText parts;
  if (!ParseHostText(hostText, parts)) {
    // Not a host text at all: nothing to look up, nothing to connect to.
    record.serverAddress = kNoAddress;
    return;
  }
  std::string_view name = parts.name.substr(0, std::min(parts.name.size(), kHostNameMax));
  if (parts.port != 0) {
    record.serverPort = parts.port;
  } else if (record.service == kServiceHttp) {
    record.serverPort =
        record.url.size() >= 4 && EqualsNoCase(std::string_view(record.url).substr(0, 4), "ftp:") ? 21 : 80;
  } else if (record.service == kServiceHttpFtpData || record.service == kServiceFtpControl) {
    record.serverPort = 21;
  }

  record.serverAddress = ResolveUpstream(record, std::string(name));
  MarkLocalServer(record, hostText);
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
