#include "dialup/dial_up_manager.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "core/clock.h"
#include "core/connection.h"
#include "core/log_files.h"
#include "core/log_writer.h"
#include "core/main_loop.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "core/report_exception.h"
#include "core/settings.h"
#include "core/strings.h"
#include "dialup/ppp_peers.h"
#include "net/dial_up_link.h"

namespace brindlex {

namespace {

// Passes while the link may be wanted; a manager with dial-up off and no
// link up has nothing to do until a setting changes, and looks far less often.
constexpr int kPassMs = 100;
constexpr int kIdlePassMs = 5000;
constexpr int kUnusableMs = 500;

std::int64_t WholeSecondsSince(std::int64_t then) {
  return (ProgramClock().PerformanceCounter() - then) / kPerformanceFrequency;
}

void WriteLine(DialUpManager& m, const std::string& text) {
  if (m.writeLine) {
    m.writeLine(text);
    return;
  }
  AppendLine(SessionLogPath(ProgramClock().LocalNow()), text);
  TheMainLoop().Post([text] { MonitorAppend(text); });
}

// The empty fields keep the line in the session log's columns, where the
// counter rebuild passes over it (it names no login).
std::string LineTail() { return ", , , " + FormatLogTimeStamp(ProgramClock().LocalNow()) + ", , , "; }

bool AnyWaitingLocked() {
  for (const ConnectionRecord* record : ConnectionListLocked())
    if (record->dialUpWait) return true;
  return false;
}

// After a device-in-use answer the entry's own link may be up already:
// it becomes the line. The dial's error stands when there is none.
int TakeOver(DialUpManager& m, const std::string& entry, int result) {
  for (const ActiveLink& link : m.access->ActiveLinks()) {
    if (link.entry == entry) {
      m.line = link.handle;
      return 0;
    }
  }
  return result;
}

void Dial(DialUpManager& m, const SystemSettings& settings) {
  LinkHandle handle = 0;
  int result =
      m.access->Dial(settings.DialUpConnection, settings.DialUpUser, settings.DialUpPassword, handle, m.stopping);
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    for (ConnectionRecord* record : ConnectionListLocked()) record->dialUpWait = false;
  }
  if (result == 0) {
    m.line = handle;
  } else {
    if (handle != 0) m.access->HangUp(handle);
    if (result == kDeviceInUse) result = TakeOver(m, settings.DialUpConnection, result);
    m.failedAt = ProgramClock().PerformanceCounter();
  }
  std::string outcome = result == 0 ? "OK" : EscapeField(m.access->ErrorText(result));
  WriteLine(m, "DIALUP_CONNECT: " + outcome + LineTail());
}

}  // namespace

std::optional<std::string> UnusableNotice(DialUpManager& m, bool enabled, bool usable) {
  if (usable || !enabled) {
    m.unusableTold = false;
    return std::nullopt;
  }
  if (m.unusableTold) return std::nullopt;
  m.unusableTold = true;
  return StrWith(1418, m.access->WhyUnusable());
}

void DropDialUpLink(DialUpManager& m) {
  if (m.line == 0) return;
  m.access->HangUp(m.line);
  m.line = 0;
  SetDialUpLinkUp(false);
  WriteLine(m, "DIALUP_DISCONNECT" + LineTail());
}

void DialUpPass(DialUpManager& m) {
  const auto snapshot = Settings();
  const SystemSettings& settings = *snapshot;
  std::int64_t now = ProgramClock().PerformanceCounter();
  m.stepMarker = 2;
  bool connections = false;
  bool waiting = false;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    connections = !ConnectionListLocked().empty();
    waiting = connections && AnyWaitingLocked();
  }
  if (connections)
    m.connectionsSeenAt = now;
  else
    m.failedAt.reset();

  m.stepMarker = 3;
  if (settings.EnableDialUp && m.line == 0) {
    if (!m.failedAt) {
      if (waiting) Dial(m, settings);
    } else if (WholeSecondsSince(*m.failedAt) > settings.DialUpWaitRepet) {
      m.failedAt.reset();
    }
  }

  m.stepMarker = 4;
  if (m.line != 0 && !m.access->Connected(m.line)) {
    m.access->HangUp(m.line);
    m.line = 0;
  }
  SetDialUpLinkUp(m.line != 0);

  m.stepMarker = 5;
  if (m.line != 0 && (!settings.EnableDialUp || !connections)) {
    if (settings.EnableDialUp && WholeSecondsSince(m.connectionsSeenAt) <= settings.DialUpIdleTime) return;
    DropDialUpLink(m);
  }
}

namespace {

struct DialUpThread {
  std::unique_ptr<RemoteAccess> access;
  DialUpManager manager;
  std::atomic<bool> stop{false};
  std::thread thread;
};

DialUpThread* g_thread = nullptr;

void Run(DialUpThread& t) {
  DialUpManager& m = t.manager;
  try {
    const auto settings = Settings();
    if (settings->EnableDialUp && t.access->Usable()) {
      auto entries = t.access->Entries();
      if (std::find(entries.begin(), entries.end(), settings->DialUpConnection) == entries.end())
        TheMainLoop().Post(
            [name = settings->DialUpConnection] { MonitorAppend("DIALUP: no dial-up entry '" + name + "'"); });
    }
    while (!t.stop) {
      m.stepMarker = 1;
      bool usable = t.access->Usable();
      // Requests fail at once while nobody can dial for them; the monitor
      // says why once, not once per refused connection.
      SetDialUpAnswered(usable);
      if (auto notice = UnusableNotice(m, Settings()->EnableDialUp, usable))
        TheMainLoop().Post([text = *notice] { MonitorAppend(text); });
      if (usable) DialUpPass(m);
      bool wanted = Settings()->EnableDialUp || m.line != 0;
      SleepUntilDialRequest(!wanted ? kIdlePassMs : usable ? kPassMs : kUnusableMs);
    }
  } catch (...) {
    ReportCurrentExceptionAndGoOn("DialUpThread", m.stepMarker);
  }
  SetDialUpAnswered(false);
  try {
    DropDialUpLink(m);
  } catch (...) {
    ReportCurrentExceptionAndGoOn("DialUpThread", m.stepMarker);
  }
}

}  // namespace

DialUpPhoneBook DialUpEntries() {
  // Without the thread (a program that never started it) the machine's own
  // pppd entries are still what a dial would use.
  PppPeers machine;
  RemoteAccess& access = g_thread ? *g_thread->access : static_cast<RemoteAccess&>(machine);
  DialUpPhoneBook book;
  book.unusable = access.WhyUnusable();
  book.place = access.EntriesPlace();
  book.entries = access.Entries();
  return book;
}

void StartDialUpThread(std::unique_ptr<RemoteAccess> access) {
  if (g_thread) return;
  g_thread = new DialUpThread;
  g_thread->access = std::move(access);
  g_thread->manager.access = g_thread->access.get();
  DialUpThread* t = g_thread;
  t->manager.stopping = [t] { return t->stop.load() || Flags().shutdown.load(); };
  t->thread = std::thread([t] { Run(*t); });
}

void StopDialUpThread() {
  if (!g_thread) return;
  g_thread->stop = true;
  NotifyDialRequest();
  g_thread->thread.join();
  delete g_thread;
  g_thread = nullptr;
}

}  // namespace brindlex
