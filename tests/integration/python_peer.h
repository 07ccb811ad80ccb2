// A test peer written in Python: a script of tests/integration run by the
// system's interpreter (which has the packaged server modules), in a
// temporary folder of its own that goes with it, its output kept in a file
// of that folder.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace brindlex::testing {

class PythonPeer {
 public:
  // The folder is named after `name`.
  explicit PythonPeer(const std::string& name);
  ~PythonPeer();
  PythonPeer(const PythonPeer&) = delete;
  PythonPeer& operator=(const PythonPeer&) = delete;

  // Starts the script with the arguments, its output going to `output` in
  // the folder. False when no process could be started.
  bool Run(const std::string& script, const std::vector<std::string>& arguments,
           const std::string& output = "server.log");
  void Stop();
  const std::string& folder() const { return folder_; }
  // The text of a file of the folder.
  std::string Read(const std::string& name) const;

 private:
  std::string folder_;
  pid_t pid_ = -1;
};

}  // namespace brindlex::testing
