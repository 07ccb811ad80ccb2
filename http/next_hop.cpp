#include "http/next_hop.h"

#include <algorithm>

#include "core/connection.h"
#include "core/host_names.h"
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
  HostPort target;
  // The head parser refuses a request whose port is not a port, so a text
  // that fails here came from elsewhere: port 0 names no server and never
  // connects.
  bool valid = SplitHostPort(hostText, target);
  std::string_view name = target.name.substr(0, std::min(target.name.size(), kHostNameMax));
  if (!valid) {
    record.serverPort = 0;
  } else if (target.port != 0) {
    record.serverPort = target.port;
  } else if (record.service == kServiceHttp) {
    record.serverPort =
        record.url.size() >= 4 && EqualsNoCase(std::string_view(record.url).substr(0, 4), "ftp:") ? 21 : 80;
  } else if (record.service == kServiceHttpFtpData || record.service == kServiceFtpControl) {
    record.serverPort = 21;
  }

  if (valid && IsGatewayName(name)) {
    record.localServer = true;
    return;
  }
  record.serverAddress = ResolveUpstream(record, std::string(name));
  MarkLocalServer(record, name);
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
