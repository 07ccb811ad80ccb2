// A real FTP server for the FTP tests: pyftpdlib on a free loopback port,
// serving a temporary folder to anonymous users and to "alice" with password
// "secret"; its log (every command it got) is kept in the folder.
#pragma once

#include <sys/types.h>

#include <string>

namespace brindlex::testing {

class FtpOrigin {
 public:
  FtpOrigin();
  ~FtpOrigin();
  FtpOrigin(const FtpOrigin&) = delete;
  FtpOrigin& operator=(const FtpOrigin&) = delete;

  // Starts the server and waits until it accepts connections. With
  // `refusePassive` it answers PASV with 502.
  bool Start(bool refusePassive = false);
  void Stop();

  // Puts a file under the served root ("pub/docs/" makes a folder).
  void Serve(const std::string& name, const std::string& bytes);
  void MakeFolder(const std::string& name);
  // What the server logged so far.
  std::string Log() const;

  int port() const { return port_; }

 private:
  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace brindlex::testing
