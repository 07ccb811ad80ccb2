// A real web server for the proxy tests: nginx on free loopback ports, with
// its configuration, files, certificate and logs in a temporary folder of its
// own. One plain port and one TLS port serve the same files; the access log
// records each request line and the headers the proxy must rewrite.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace brindlex::testing {

class NginxOrigin {
 public:
  NginxOrigin();
  ~NginxOrigin();
  NginxOrigin(const NginxOrigin&) = delete;
  NginxOrigin& operator=(const NginxOrigin&) = delete;

  // Writes the configuration (with a fresh self-signed certificate when
  // `tls`), starts nginx and waits until its ports accept connections.
  bool Start(bool tls = false);
  void Stop();

  // Puts a file under the document root.
  void Serve(const std::string& name, const std::string& bytes);
  // Waits until the access log holds `count` lines; returns the log.
  std::string WaitForLog(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // The same for the status log (kStatusFields: what each request got back).
  std::string WaitForStatusLog(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));

  // Directives added to the plain server block (locations with their own
  // response headers, say); set before Start.
  std::string extraServerConfig;

  int port() const { return port_; }
  int tlsPort() const { return tlsPort_; }
  const std::string& folder() const { return folder_; }

  // Format of one access-log line: fields separated by " | ".
  static constexpr const char* kLogFields =
      "$request | pc=$http_proxy_connection | c=$http_connection | pa=$http_proxy_authorization"
      " | ims=$http_if_modified_since | inm=$http_if_none_match | host=$http_host";
  // Format of one status-log line: the status, the body bytes sent and the
  // request with its conditions.
  static constexpr const char* kStatusFields =
      "$status $body_bytes_sent $request | ims=$http_if_modified_since | inm=$http_if_none_match";

 private:
  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
  int tlsPort_ = 0;
};

// Waits until the file holds `count` lines (or the time-out); returns it.
std::string WaitForLines(const std::string& path, size_t count, std::chrono::milliseconds timeout);

// Waits until something accepts connections on 127.0.0.1:port.
bool WaitForPort(int port, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs `body` in a child process inside a network namespace of its own, with
// only its loopback up, so that name lookups fail locally instead of leaving
// the machine. Returns what `body` returned, or "child failed: ..." when the
// namespace could not be made or the child died.
std::string RunInOwnNetwork(std::string (*body)());

}  // namespace brindlex::testing
