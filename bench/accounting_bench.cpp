// Cost of the per-piece accounting steps and speed of the counter rebuild
// over a month of session logs. Prints figures; asserts nothing about time.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "core/accounting.h"
#include "core/clock.h"
#include "core/connection.h"
#include "core/counter_rebuild.h"
#include "core/groups.h"
#include "core/log_files.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/users.h"

using namespace brindlex;
using WallClock = std::chrono::steady_clock;

namespace {

double Seconds(WallClock::time_point since) { return std::chrono::duration<double>(WallClock::now() - since).count(); }

void BenchSteps() {
  ConnectionRecord* c = NewConnection(kServiceHttp);
  c->clientAddress = ParseIpv4("10.0.0.5");
  UserSession* session = nullptr;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    c->sessionRecord = FindOrCreateSessionLocked(c->clientAddress);
    session = AttachLocked(*c, Users().front().get());
  }
  const int n = 5'000'000;
  auto start = WallClock::now();
  for (int i = 0; i < n; ++i) IncomingStep(*session, 8192);
  std::printf("incoming step: %.1f ns per piece\n", Seconds(start) * 1e9 / n);
  start = WallClock::now();
  for (int i = 0; i < n; ++i) {
    TransferGate gate(*c);
    int moved = gate.Limit(8192, true);
    gate.Done(moved);
    CountReceived(*c, moved);
  }
  std::printf("gate + count of one received piece (no speed limit): %.1f ns\n", Seconds(start) * 1e9 / n);
  start = WallClock::now();
  for (int i = 0; i < n; ++i) ContinuingCheck(*c);
  std::printf("continuing check: %.1f ns per pass\n", Seconds(start) * 1e9 / n);
  std::lock_guard<std::mutex> lock(AccountsLock());
  UnlinkConnectionLocked(c);
  DeleteConnection(c);
  SessionListLocked().clear();
}

void BenchRebuild() {
  const int days = 31, linesPerDay = 100'000;
  std::int64_t today = LocalSeconds(2026, 12, 31, 12, 0, 0);
  std::printf("writing %d session logs of %d lines...\n", days, linesPerDay);
  for (int day = 1; day <= days; ++day) {
    std::string path = SessionLogPath(LocalSeconds(2026, 12, day));
    FILE* f = std::fopen(path.c_str(), "wb");
    for (int i = 0; i < linesPerDay; ++i)
      std::fprintf(f, "User %d, user%d, 10.0.%d.%d, 12.%02d.26, 10:00:00, %d, %d, %d, %d, %d\r\n", i % 500, i % 500,
                   i % 250, i % 200, day, 60000 + i, 1024 * i, 512 * i, 3 * i, 7 * i);
    std::fclose(f);
  }
  auto start = WallClock::now();
  RebuildCounters(RebuildMode::BillingMonth, today);
  double seconds = Seconds(start);
  std::printf("rebuild: %d lines in %.3f s = %.2f million lines per second\n", days * linesPerDay, seconds,
              days * linesPerDay / seconds / 1e6);
}

}  // namespace

int main() {
  char name[] = "/tmp/brindlex-bench-XXXXXX";
  std::string folder = ::mkdtemp(name);
  SetProgramFolder(folder);
  EnsureFolder(LoggingFolder());
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    Groups().push_back(std::make_unique<GroupRecord>(MakeDefaultGroup()));
    Groups().back()->tariffIn = 1.5;
    Groups().back()->exchangeRate = 30;
    for (int i = 0; i < 500; ++i) {
      UserRecord* user = FindOrCreateUser("user" + std::to_string(i));
      user->deleted = false;
      user->schedule = FullSchedule();
      user->group = Groups().back().get();
      user->rules.monthMb = 100000;
    }
  }
  BenchSteps();
  BenchRebuild();
  std::system(("rm -rf '" + folder + "'").c_str());
  return 0;
}
