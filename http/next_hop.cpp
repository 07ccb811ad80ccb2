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
  size_t colon = hostText.find(':');
  std::string_view name = hostText.substr(0, colon);
  name = name.substr(0, std::min(name.size(), kHostNameMax));
  if (colon != std::string_view::npos && ParseIntPrefix(hostText.substr(colon + 1)) != 0) {
    // A port outside 1..65535 names no server; 0 makes the connect fail.
    std::int64_t port = ParseIntPrefix(hostText.substr(colon + 1));
    record.serverPort = port > 0 && port <= 65535 ? static_cast<int>(port) : 0;
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
