// A real FTP server for the FTP tests: pyftpdlib on a free loopback port,
// serving a temporary folder to anonymous users and to "alice" with password
// "secret"; its log (every command it got) is kept in the folder.
#pragma once

#include <string>

#include "tests/integration/python_peer.h"

namespace brindlex::testing {

class FtpOrigin {
 public:
  FtpOrigin();

  enum class Passive {
    kNormal,
    kRefused,    // PASV is answered with 502
    kElsewhere,  // 227 names 10.9.8.7, not the server's own address
  };
  // Starts the server and waits until it accepts connections.
  bool Start(Passive passive = Passive::kNormal);
  void Stop();

  // Puts a file under the served root ("pub/docs/" makes a folder).
  void Serve(const std::string& name, const std::string& bytes);
  void MakeFolder(const std::string& name);
  // What the server logged so far.
  std::string Log() const;

  int port() const { return port_; }

 private:
  PythonPeer peer_{"ftp"};
  int port_ = 0;
};

}  // namespace brindlex::testing
