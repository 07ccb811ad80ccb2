#include "web/page_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace brindlex {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The input goes through a socket rather than a pipe so that a program that
// ends without reading it costs an EPIPE here and not a SIGPIPE.
pid_t Start(const std::string& file, int input, int output) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attributes);
  // A process group of its own, so that what it starts dies with it; the
  // gateway's ignored SIGPIPE and blocked signals are not the program's.
  sigset_t none, pipe;
  sigemptyset(&none);
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &pipe);
  char* argv[] = {const_cast<char*>(file.c_str()), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, file.c_str(), &actions, &attributes, argv, environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void SendInput(int fd, const std::string& input) {
  size_t sent = 0;
  while (sent < input.size()) {
    ssize_t n = ::send(fd, input.data() + sent, input.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

// Reads until the program closes its output, the cap is passed or the
// deadline comes.
ProgramEnd ReadOutput(int fd, Clock::time_point deadline, size_t cap, std::string& output) {
  char piece[4096];
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    int ready = ::poll(&wait, 1, MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return ProgramEnd::kTimedOut;
    ssize_t n = ::read(fd, piece, sizeof(piece));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ProgramEnd::kFinished;
    size_t room = cap - output.size();
    output.append(piece, std::min(room, static_cast<size_t>(n)));
    if (static_cast<size_t>(n) > room) return ProgramEnd::kFlooded;
  }
}

// A program may close its output and go on running; it gets what is left of
// its time to end.
bool EndedBy(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return true;
    if (MsLeft(deadline) == 0) return false;
    ::usleep(5000);
  }
}

}  // namespace

ProgramRun RunPageProgram(const std::string& file, const std::string& input, const ProgramLimits& limits) {
  ProgramRun run;
  int in[2], out[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) return run;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return run;
  }
  pid_t pid = Start(file, in[1], out[1]);
  ::close(in[1]);
  ::close(out[1]);
  if (pid > 0) {
    Clock::time_point deadline = Clock::now() + limits.time;
    SendInput(in[0], input);
    ::close(in[0]);
    in[0] = -1;
    run.end = ReadOutput(out[0], deadline, limits.output, run.output);
    if (run.end == ProgramEnd::kFinished && !EndedBy(pid, deadline)) run.end = ProgramEnd::kTimedOut;
    if (run.end != ProgramEnd::kFinished) {
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }
  if (in[0] >= 0) ::close(in[0]);
  ::close(out[0]);
  return run;
}

}  // namespace brindlex
