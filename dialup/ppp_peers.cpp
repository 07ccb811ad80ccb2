#include "dialup/ppp_peers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "core/file_io.h"
#include "core/strings.h"

extern char** environ;

namespace brindlex {

namespace {

constexpr auto kDialPoll = std::chrono::milliseconds(100);
constexpr int kHangUpWaitPolls = 30;  // of kDialPoll
constexpr unsigned kInterfaceUp = 0x1;
constexpr unsigned kInterfaceRunning = 0x40;
constexpr size_t kLinkFileMax = 256;

// An entry or interface name that stays inside its folder.
bool PlainName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name[0] == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == '@' || c == '+';
  });
}

std::string ReadSmallFile(const std::string& path) {
  std::string text;
  return ReadFileBounded(path, kLinkFileMax, text) ? text : std::string();
}

bool Alive(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

// A child of ours that has ended is reaped here; another process's pid is
// left alone.
void Reap(long pid) {
  int status = 0;
  ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
}

bool InterfaceRunning(const PppPaths& paths, const std::string& interface) {
  if (!PlainName(interface)) return false;
  std::string text = ReadSmallFile(paths.interfaces + "/" + interface + "/flags");
  unsigned long flags = std::strtoul(text.c_str(), nullptr, 16);
  return (flags & (kInterfaceUp | kInterfaceRunning)) == (kInterfaceUp | kInterfaceRunning);
}

bool ReadLink(const PppPaths& paths, const std::string& entry, PppLinkFile& link) {
  return ParsePppLinkFile(ReadSmallFile(paths.run + "/ppp-" + entry + ".pid"), link);
}

// pppd's exit status as a code of Dial: a serial port it could not lock is
// a device in use.
int ExitCode(int status) {
  if (!WIFEXITED(status)) return kPppdExit + 5;
  int code = WEXITSTATUS(status);
  return code == 6 ? kDeviceInUse : kPppdExit + code;
}

// Starts pppd for the entry with the password on descriptor 3; its pid or -1.
pid_t StartPppd(const PppPaths& paths, const std::string& entry, const std::string& user, const std::string& password) {
  std::vector<std::string> args = {paths.pppd, "call", entry, "nodetach", "linkname", entry};
  if (!user.empty()) args.insert(args.end(), {"user", user});
  int pipe[2] = {-1, -1};
  if (!password.empty()) {
    if (::pipe2(pipe, O_CLOEXEC) != 0) return -1;
    args.insert(args.end(), {"plugin", "passwordfd.so", "passwordfd", "3"});
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (pipe[0] >= 0) posix_spawn_file_actions_adddup2(&actions, pipe[0], 3);
  pid_t pid = -1;
  if (::posix_spawn(&pid, paths.pppd.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (pipe[0] >= 0) {
    ::close(pipe[0]);
    // The password and its end: pppd reads up to the end of the pipe.
    // A password is far smaller than a pipe, so the write does not wait.
    size_t written = 0;
    while (pid > 0 && written < password.size()) {
      ssize_t n = ::write(pipe[1], password.data() + written, password.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      written += static_cast<size_t>(n);
    }
    ::close(pipe[1]);
  }
  return pid;
}

}  // namespace

bool ParsePppLinkFile(std::string_view text, PppLinkFile& link) {
  size_t end = text.find('\n');
  std::string_view first = text.substr(0, end);
  if (first.empty() || first.size() > 10 ||
      !std::all_of(first.begin(), first.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  link.pid = std::stol(std::string(first));
  link.interface.clear();
  if (end != std::string_view::npos) {
    std::string_view second = text.substr(end + 1);
    second = second.substr(0, second.find('\n'));
    if (PlainName(second)) link.interface.assign(second);
  }
  return link.pid > 0;
}

bool PppPeers::Usable() { return WhyUnusable().empty(); }

std::string PppPeers::WhyUnusable() {
  if (::access(paths_.pppd.c_str(), X_OK) != 0) return StrWith(1419, paths_.pppd);
  struct stat folder {};
  if (::stat(paths_.peers.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) return StrWith(1420, paths_.peers);
  return {};
}

std::vector<std::string> PppPeers::Entries() {
  std::vector<std::string> entries;
  DIR* folder = ::opendir(paths_.peers.c_str());
  if (!folder) return entries;
  while (dirent* item = ::readdir(folder)) {
    std::string name = item->d_name;
    struct stat file {};
    if (!PlainName(name) || name.back() == '~' || ::stat((paths_.peers + "/" + name).c_str(), &file) != 0 ||
        !S_ISREG(file.st_mode))
      continue;
    entries.push_back(name);
  }
  ::closedir(folder);
  std::sort(entries.begin(), entries.end());
  return entries;
}

int PppPeers::Dial(const std::string& entry, const std::string& user, const std::string& password, LinkHandle& handle,
                   const std::function<bool()>& stopping) {
  handle = 0;
  if (!PlainName(entry)) return kBadEntry;
  pid_t pid = StartPppd(paths_, entry, user, password);
  if (pid <= 0) return kPppdNotStarted;
  handle = pid;
  int polls = paths_.dialSeconds * 1000 / static_cast<int>(kDialPoll.count());
  for (int i = 0; i < polls; ++i) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      handle = 0;
      return ExitCode(status);
    }
    if (Connected(pid)) return 0;
    if (stopping()) return kDialAbandoned;
    std::this_thread::sleep_for(kDialPoll);
  }
  return kDialTimedOut;
}

bool PppPeers::Connected(LinkHandle handle) {
  if (!Alive(handle)) {
    Reap(handle);
    return false;
  }
  for (const ActiveLink& link : ActiveLinks()) {
    PppLinkFile file;
    if (link.handle == handle && ReadLink(paths_, link.entry, file)) return InterfaceRunning(paths_, file.interface);
  }
  return false;
}

void PppPeers::HangUp(LinkHandle handle) {
  if (handle <= 0 || ::kill(static_cast<pid_t>(handle), SIGTERM) != 0) return;
  // pppd ends the link with its peer first; a pppd that does not end in time
  // is left to it, and is reaped when it has.
  for (int i = 0; i < kHangUpWaitPolls && Alive(handle); ++i) {
    Reap(handle);
    std::this_thread::sleep_for(kDialPoll);
  }
  Reap(handle);
}

std::string PppPeers::ErrorText(int code) {
  switch (code) {
    case kDeviceInUse:
      return "the device is in use";
    case kDialTimedOut:
      return "no link came up in time";
    case kDialAbandoned:
      return "the dial was abandoned";
    case kBadEntry:
      return "no such entry";
    case kPppdNotStarted:
      return "pppd could not be started";
    default:
      break;
  }
  static const char* const kExits[] = {
      "pppd ended",
      "fatal error",
      "error in the options",
      "pppd is not setuid root",
      "the kernel has no PPP support",
      "pppd was stopped",
      "the serial port could not be locked",
      "the serial port could not be opened",
      "the connect script failed",
      "the pty command failed",
      "PPP negotiation failed",
      "the peer failed to authenticate itself",
      "the link was idle",
      "the connect time limit was reached",
      "callback negotiated",
      "the peer did not answer",
      "the modem hung up",
      "a loopback was detected",
      "the init script failed",
      "authentication to the peer failed",
  };
  int exit = code - kPppdExit;
  if (exit >= 0 && exit < static_cast<int>(std::size(kExits))) return kExits[exit];
  return "error " + std::to_string(code);
}

std::vector<ActiveLink> PppPeers::ActiveLinks() {
  std::vector<ActiveLink> links;
  DIR* folder = ::opendir(paths_.run.c_str());
  if (!folder) return links;
  constexpr std::string_view kHead = "ppp-", kTail = ".pid";
  while (dirent* item = ::readdir(folder)) {
    std::string_view name = item->d_name;
    if (name.size() <= kHead.size() + kTail.size() || name.substr(0, kHead.size()) != kHead ||
        name.substr(name.size() - kTail.size()) != kTail)
      continue;
    std::string entry(name.substr(kHead.size(), name.size() - kHead.size() - kTail.size()));
    PppLinkFile file;
    if (PlainName(entry) && ReadLink(paths_, entry, file) && Alive(file.pid)) links.push_back({entry, file.pid});
  }
  ::closedir(folder);
  return links;
}

}  // namespace brindlex
