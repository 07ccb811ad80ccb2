// The brindlex executable. With an administrator's argument (app/command_line.h)
// it runs that and ends. Without one it finds its program folder, makes sure
// it is the only copy running on it, starts the gateway and runs the main loop
// until SIGTERM or SIGINT asks for the orderly shutdown.
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/main_timer.h"
#include "app/reload.h"
#include "app/startup.h"
#include "app/admin_channel.h"
#include "console/local_engine.h"
#include "core/display_forms.h"
#include "core/main_loop.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/report_exception.h"
#include "core/session_journal.h"
#include "core/strings.h"

namespace {

using namespace brindlex;

sigset_t HandledSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  return set;
}

// Turns signals into main-loop work; runs until the process ends.
void SignalThread(MainLoop* loop, Gateway* gateway) {
  sigset_t set = HandledSignals();
  while (true) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    switch (signal) {
      case SIGTERM:
      case SIGINT:
        loop->Quit();
        break;
      case SIGHUP:
        loop->Post([gateway] {
          // The orderly shutdown pumps the loop too; it has nothing to reload.
          if (!Flags().shutdown) ReloadSettingsFile(gateway->listener);
        });
        break;
      case SIGUSR1:
        loop->Post([] {
          std::fputs(UserFiguresReport().c_str(), stdout);
          std::fflush(stdout);
        });
        break;
    }
  }
}

void PrintLine(FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

// 500 connections take up to four descriptors each (client, server and a
// relay pipe); the usual soft limit of 1 024 would run out first.
void RaiseDescriptorLimit() {
  constexpr rlim_t kWanted = 8192;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= kWanted) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? kWanted : std::min(kWanted, limit.rlim_max);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

int main(int argc, char** argv) {
  Command command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (command.kind != CommandKind::Gateway) {
    SetProgramFolder(ResolveProgramFolder());
    return RunCommand(command, SettingsFilePath(), stdout, stderr);
  }

  // A peer that resets mid-write ends one connection, never the process.
  ::signal(SIGPIPE, SIG_IGN);
  // Every connection has a thread of its own; with the default of eight
  // arenas per core, each burst of threads leaves memory behind in arenas
  // that are rarely used again. Workers allocate little, so two arenas serve.
  ::mallopt(M_ARENA_MAX, 2);
  RaiseDescriptorLimit();
  sigset_t handled = HandledSignals();
  pthread_sigmask(SIG_BLOCK, &handled, nullptr);

  SetProgramFolder(ResolveProgramFolder());
  int lock = AcquireInstanceLock(ProgramFolder());
  if (lock == kInstanceLockHeld) {
    PrintLine(stderr, Str(960));
    return 0;
  }
  if (lock == kInstanceLockUnavailable) {
    // A folder that is missing or read-only is a mistake to report, not a
    // second copy: a supervisor must see the failure.
    char text[4096];
    std::snprintf(text, sizeof(text), StrC(1214), ProgramFolder().c_str(), std::strerror(errno));
    PrintLine(stderr, text);
    return 1;
  }

  // The gateway never touches a display: consoles attach to it over the
  // administration channel. The loop is never destroyed: the signal thread
  // runs until the process ends and may still hand it a late signal after
  // main has returned.
  MainLoop& loop = *new HeadlessMainLoop;
  SetMainLoop(&loop);
  // Every line goes to standard output, and to the consoles attached.
  SetMonitorSwitchSink([](const std::string& line, int monitorSwitch) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    PushMonitorLine(line, monitorSwitch);
  });
  SetMonitorFlush([] { std::fflush(stdout); });
  // A busy gateway may leave some services' lines out.
  if (const char* off = std::getenv("BRINDLEX_MONITOR_OFF"); off && !TurnMonitorSwitchesOff(off))
    PrintLine(stderr,
              std::string("BRINDLEX_MONITOR_OFF: not a list of http, ftp, smtp, pop3, socks5, portmap, dns: ") + off);
  SetFatalStopHooks(FatalStopHooks{[](const std::string& caption, const std::string& text) {
                                     PrintLine(stderr, caption + ": " + text);
                                   },
                                   [&loop] { loop.Quit(); }});
  // Reload work reaches the gateway only through the loop, which runs no
  // more once main returns.
  Gateway gateway;
  std::thread(SignalThread, &loop, &gateway).detach();

  LocalEngine engine([&gateway](int reopenMask) { ReloadSettingsFile(gateway.listener, reopenMask); });
  StartUp(gateway);
  if (!Flags().fatalStop) StartAdminChannel(gateway, engine, loop);
  loop.SetTick([&gateway] { return MainTimerTimer(gateway.timer); });
  if (!Flags().fatalStop) loop.Run();
  if (Flags().fatalStop) {
    // After an unexpected exception no orderly shutdown runs, which could
    // meet the damage again; only the journal of the open sessions is
    // written, so that the next start recovers what they carried. Other
    // threads still run: it takes the accounts lock like the timer does.
    WriteSessionJournal();
    std::fflush(stdout);
    std::_Exit(1);
  }
  StopAdminChannel();
  ShutDown(gateway, loop);
  return Flags().exitCode;
}
