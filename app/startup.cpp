#include "app/startup.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "app/settings_check.h"
#include "cache/cache_thread.h"
#include "console/gateway_figures.h"
#include "core/accounting.h"
#include "core/clock.h"
#include "core/config_check.h"
#include "core/connection.h"
#include "core/counter_rebuild.h"
#include "core/ini_file.h"
#include "core/log_files.h"
#include "core/log_writer.h"
#include "core/main_loop.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/report_exception.h"
#include "core/session_journal.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/subscriptions.h"
#include "core/users.h"
#include "dialup/dial_up_manager.h"
#include "dialup/ppp_peers.h"
#include "dns/dns_thread.h"
#include "ftp/ftp_service.h"
#include "http/http_protocol.h"
#include "mail/mail_rules.h"
#include "mail/mail_service.h"
#include "net/worker.h"
#include "net/worker_stacks.h"
#include "net/worker_threads.h"
#include "portmap/port_map_check.h"
#include "portmap/port_map_protocol.h"
#include "portmap/port_map_storage.h"
#include "reports/report_service.h"
#include "socks/socks_protocol.h"
#include "web/web_server.h"

namespace brindlex {

namespace {

constexpr auto kShutdownPoll = std::chrono::milliseconds(10);

// Sleeps in 10 ms steps, running the main loop's waiting tasks in between,
// until the condition holds.
template <typename Condition>
void PumpUntil(MainLoop& loop, Condition done) {
  loop.Pump();
  while (!done()) {
    std::this_thread::sleep_for(kShutdownPoll);
    loop.Pump();
  }
}

}  // namespace

void ReportConfigurationProblems() {
  std::vector<ConfigProblem> problems;
  if (!CheckSettingsFile(SettingsPath(), problems)) return;
  for (const ConfigProblem& problem : problems) {
    std::string line = FormatConfigProblem("Brindlex.ini", problem);
    MonitorAppend(line);
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

void LoadSettingsFile(int& stepMarker) {
  stepMarker = 1;
  SetSettingsPath(SettingsFilePath());
  stepMarker = 5;
  // Groups, users and the global filters; old forms found in the file are
  // converted and written back.
  LoadAccounts(SettingsPath());
  IniDocument settingsFile = LoadIniFile(SettingsPath());
  ReadAllSubscriptions(settingsFile);

  stepMarker = 8;
  SystemSettings loaded;
  LoadSystemSettings(settingsFile, loaded);
  PublishSettings(std::move(loaded));
  LoadMailRules(settingsFile);
  stepMarker = 9;
  LoadCounters(settingsFile);
  stepMarker = 10;
  std::vector<PortMapRule> rules = ReadPortMapRules(settingsFile);
  DisableLoops(rules);
  ReplacePortMapRules(std::move(rules));
}

void StartUp(Gateway& gateway) {
  gateway.startedAt = ProgramClock().PerformanceCounter();
  try {
    LoadSettingsFile(gateway.stepMarker);
    ReportConfigurationProblems();

    gateway.stepMarker = 11;
    EnsureFolder(LoggingFolder());
    EnsureFolder(CacheFolder());

    gateway.stepMarker = 12;
    // What the sessions of a run that crashed had carried since their last
    // line, before the counters are rebuilt from the logs.
    RecoverSessionJournal();

    gateway.stepMarker = 13;
    std::int64_t today = ProgramClock().LocalNow();
    RebuildCounters(RebuildMode::BillingMonth, today);
    gateway.stepMarker = 14;
    PurgeOldLogs(today);
    gateway.stepMarker = 15;
    ClearSpeedHistory(ProgramSpeedHistory());

    gateway.stepMarker = 20;
    RegisterHttpProtocol();
    RegisterWebServer();
    RegisterSocks5Protocol();
    RegisterFtpService();
    RegisterMailService();
    RegisterPortMapProtocol();
    ListenerCreate();
    gateway.listenerThread = std::thread([&gateway] { ListenerRun(gateway.listener); });
    gateway.stepMarker = 21;
    StartCacheThread();
    StartDialUpThread(std::make_unique<PppPeers>());
    StartDnsThread();
    StartReportService();
    gateway.metrics.Start(Settings()->MetricsAddress,
                          [&gateway] { return CollectGatewayFigures(gateway.startedAt); });

    gateway.stepMarker = 22;
    malloc_trim(0);
  } catch (...) {
    ReportCurrentException("Main", gateway.stepMarker);
  }
}

void ShutDown(Gateway& gateway, MainLoop& loop) {
  gateway.stepMarker = 101;
  BeginShutdown();
  gateway.metrics.Stop();
  // Connections waiting for the link are released first, then the link goes.
  StopDialUpThread();
  // The listener stops before the workers are waited for: the thread that
  // holds its role is one of them.
  if (gateway.listenerThread.joinable()) {
    ListenerStop(gateway.listener);
    PumpUntil(loop, [&] { return gateway.listener.stopped.load(); });
  }
  EndParkedWorkers();

  gateway.stepMarker = 102;
  // A thread that has ended has posted its stack before it stopped counting
  // as live: the pump after that look hands it over to be joined.
  PumpUntil(loop, [&loop] {
    bool ended = ConnectionCount() == 0 && LiveWorkerThreads() == 0;
    loop.Pump();
    return ended && ReapWorkers(true) == 0;
  });

  gateway.stepMarker = 103;
  RequestDnsThreadStop();
  PumpUntil(loop, DnsThreadEnded);
  FreeDnsThread();

  gateway.stepMarker = 104;
  // The thread the listener started on has served its last client by now.
  if (gateway.listenerThread.joinable()) gateway.listenerThread.join();

  gateway.stepMarker = 105;
  StopCacheThread();
  StopReportService();

  gateway.stepMarker = 106;
  std::vector<PendingLogLine> lines;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    for (auto& record : SessionListLocked())
      for (auto& session : record->userSessions) TakeSessionLineLocked(*record, *session, lines);
    SessionListLocked().clear();
  }
  WriteLogLines(lines);
  FlushLogLinesAtShutdown();
  RemoveSessionJournal();

  gateway.stepMarker = 107;
  SaveAllSubscriptions();
}

}  // namespace brindlex
