// Start-up and shutdown of the gateway, without any window: the fixed order in
// which tables are loaded and threads started, the orderly shutdown in the
// reverse order, and the fatal stop. Main thread only.
#pragma once

#include <memory>
#include <thread>

#include "app/main_timer.h"
#include "console/metrics_endpoint.h"
#include "net/listener.h"

namespace brindlex {

class MainLoop;

// What start-up builds and shutdown takes down again.
struct Gateway {
  int stepMarker = 0;
  MainTimer timer;
  Listener listener;
  std::thread listenerThread;
  MetricsEndpoint metrics;
  std::int64_t startedAt = 0;  // program-clock count of the start, for the uptime
};

// Loads the settings file of the program folder into the tables: accounts,
// subscriptions, the System settings and the counters (the same for the
// gateway and for the accounts commands). `stepMarker` follows its steps.
void LoadSettingsFile(int& stepMarker);

// Loads the settings file of the program folder and starts every thread.
// The program folder must be set. An exception goes to Report exception.
void StartUp(Gateway& gateway);

// Every problem of the settings file, one monitor line and one line on
// standard error each, so that an administrator sees why a setting does not
// act as written. At start-up and at every reload.
void ReportConfigurationProblems();

// The orderly shutdown: stops the listener, ends every connection (pumping
// the main loop so their monitor lines are shown and their threads joined),
// stops the service threads in their order, writes open sessions and frees
// the tables.
void ShutDown(Gateway& gateway, MainLoop& loop);

}  // namespace brindlex
