#include "tests/integration/ftp_origin.h"

#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {

FtpOrigin::FtpOrigin() { MakeFolder(""); }

void FtpOrigin::Serve(const std::string& name, const std::string& bytes) {
  WriteFile(peer_.folder() + "/root/" + name, bytes);
}

void FtpOrigin::MakeFolder(const std::string& name) {
  RunProgram("mkdir -p '" + peer_.folder() + "/root/" + name + "'");
}

std::string FtpOrigin::Log() const { return peer_.Read("server.log"); }

bool FtpOrigin::Start(Passive passive) {
  port_ = FreePort();
  std::vector<std::string> arguments = {std::to_string(port_), peer_.folder() + "/root"};
  if (passive == Passive::kRefused) arguments.push_back("no-pasv");
  if (passive == Passive::kElsewhere) arguments.push_back("elsewhere");
  return peer_.Run("ftp_server.py", arguments) && WaitForPort(port_);
}

void FtpOrigin::Stop() { peer_.Stop(); }

}  // namespace brindlex::testing
