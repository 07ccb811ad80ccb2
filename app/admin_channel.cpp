#include "app/admin_channel.h"

#include <atomic>
#include <cstdio>
#include <chrono>
#include <thread>

#include "app/startup.h"
#include "console/admin_calls.h"
#include "console/admin_dispatch.h"
#include "console/admin_records.h"
#include "console/gateway_figures.h"
#include "console/admin_server.h"
#include "console/admin_tls.h"
#include "console/console_engine.h"
#include "console/monitor_view.h"
#include "core/clock.h"
#include "core/main_loop.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/settings.h"
#include "core/strings.h"

namespace brindlex {
namespace {

// Never destroyed: the report sender's thread may push its progress while
// the process ends, and a push after Stop is only dropped.
AdminServer& Server() {
  static auto* server = new AdminServer;
  return *server;
}

void PushRefresh(std::uint8_t bits) { Server().Push(AdminPush::kRefresh, std::string(1, static_cast<char>(bits))); }

// The settings in force at the login, so a changed password counts at once.
PasswordCheck CheckPassword(std::string_view entered) { return CheckAdminPassword(entered, Settings()->PasswordAdmin); }

bool ChangesAccounts(AdminCall call) {
  switch (call) {
    case AdminCall::kSaveConfigGroup:
    case AdminCall::kDeleteConfigGroup:
    case AdminCall::kApplyGroupRulesToUsers:
    case AdminCall::kSaveConfigUser:
    case AdminCall::kDeleteConfigUser:
    case AdminCall::kMoveConfigUser:
    case AdminCall::kApplyGroupRulesToUser:
    case AdminCall::kApplyConfigCopy:
    case AdminCall::kApplyTicket:
    case AdminCall::kCloseTicket:
      return true;
    default:
      return false;
  }
}

std::optional<std::string> Serve(Gateway& gateway, ConsoleEngine& engine, MainLoop& loop, std::uint16_t call,
                                 std::string_view args, const AdminCallContext& context) {
  switch (static_cast<AdminCall>(call)) {
    case AdminCall::kGatewayFigures:
      if (!args.empty()) return std::nullopt;
      return Encode(CollectGatewayFigures(gateway.startedAt));
    case AdminCall::kStopGateway:
      if (!args.empty()) return std::nullopt;
      // The reply goes out first; the orderly shutdown then says farewell.
      loop.Post([&loop] { loop.Quit(); });
      return std::string();
    default:
      break;
  }
  std::optional<std::string> reply = ServeAdminCall(engine, call, args, context);
  // Every console's users page (not only this one's) shows the change by
  // the next second.
  if (reply && ChangesAccounts(static_cast<AdminCall>(call))) Flags().usersDirty = true;
  return reply;
}

}  // namespace

void StartAdminChannel(Gateway& gateway, ConsoleEngine& engine, MainLoop& loop) {
  gateway.timer.hooks = MainTimerHooks{[] { PushRefresh(kRefreshTree); }, [] { PushRefresh(kRefreshPerSecond); },
                                       [] { PushRefresh(kRefreshUsers); }, [] { PushRefresh(kRefreshTray); },
                                       [] { PushRefresh(kRefreshSpeed); }};
  // The mail sender's progress: on the monitor (standard output) as ever,
  // and in the status bar of every console.
  engine.SetMailStatusSink([](const std::string& text) {
    MonitorShow(text);
    Server().Push(AdminPush::kMailStatus, text);
  });
  AdminServerOptions options;
  options.programFolder = ProgramFolder();
  options.port = Settings()->AdminPort;
  options.checkPassword = CheckPassword;
  options.serve = [&gateway, &engine, &loop](std::uint16_t call, std::string_view args,
                                             const AdminCallContext& context) {
    return Serve(gateway, engine, loop, call, args, context);
  };
  options.monitor = [](std::string line) { MonitorPost(std::move(line)); };
  options.runOnMainThread = [&loop](const std::function<void()>& work) { loop.RunSync(work); };
  std::string error;
  // The key and certificate are made once, at the first start with a port.
  if (options.port != 0 && !EnsureAdminCertificate(options.programFolder, options.hostName, error)) {
    MonitorShow(StrWith(1225, error));
    options.port = 0;
  }
  if (!Server().Start(options, error)) MonitorShow(StrWith(1225, error));
}

void StopAdminChannel() {
  // A console's call may be waiting for the main thread (this one): the
  // loop goes on running such work until every console's thread has ended.
  MainLoop& loop = TheMainLoop();
  std::atomic<bool> stopped = false;
  std::thread stopper([&stopped] {
    Server().Stop();
    stopped = true;
  });
  while (!stopped) {
    loop.Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stopper.join();
}

void PushMonitorLine(const std::string& line, int monitorSwitch) {
  // Consoles hide a service's lines themselves, so that the lines come back
  // when the switch is turned on again; the time is the gateway's.
  Server().Push(AdminPush::kMonitorLine,
                MonitorPushPayload(GatewayMonitorEntry(line, monitorSwitch, ProgramClock().LocalNow())));
}

}  // namespace brindlex
