#include "reports/report_service.h"

#include <mutex>

#include "core/clock.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "core/report_exception.h"
#include "core/users.h"
#include "reports/report_template.h"

namespace brindlex {

namespace {

// Main thread.
std::unique_ptr<ReportService> g_service;
std::function<void(const std::string&)> g_statusSink;

// Guards the service pointer against queueing from other threads while
// start-up or shutdown replaces it.
std::mutex g_serviceLock;

void ShowStatus(const std::string& text) {
  if (g_statusSink)
    g_statusSink(text);
  else
    MonitorAppend(text);
}

}  // namespace

ReportService::ReportService(ReportSender::ClientFactory makeClient, ReportSender::StatusSink statusSink)
    : sender_(std::move(makeClient), std::move(statusSink)) {}

void ReportService::Tick() {
  if (stopped_) return;
  try {
    stepMarker_ = 1;
    sender_.Tick();
    stepMarker_ = 2;
    for (OutgoingMail& mail : schedule_.Due(ProgramClock().LocalNow())) sender_.Queue(std::move(mail));
    stepMarker_ = 0;
  } catch (...) {
    stopped_ = true;
    ReportCurrentExceptionAndGoOn("SendEmail", stepMarker_);
  }
}

void StartReportService() {
  auto service = std::make_unique<ReportService>(MakeSmtpClient, ShowStatus);
  std::lock_guard<std::mutex> lock(g_serviceLock);
  g_service = std::move(service);
}

void StopReportService() {
  std::unique_ptr<ReportService> service;
  {
    std::lock_guard<std::mutex> lock(g_serviceLock);
    service = std::move(g_service);
  }
}

void ReportServiceTick() {
  if (g_service) g_service->Tick();
}

void SetReportStatusSink(std::function<void(const std::string& text)> sink) { g_statusSink = std::move(sink); }

bool ReportServiceRunning() {
  std::lock_guard<std::mutex> lock(g_serviceLock);
  return g_service && !g_service->Stopped();
}

bool QueueAdminMessage(std::string_view recipient, std::string_view text) {
  if (text.empty() || recipient.empty()) return false;
  std::lock_guard<std::mutex> lock(g_serviceLock);
  if (!g_service) return false;
  g_service->Sender().Queue({std::string(recipient), std::string(text)});
  return true;
}

std::string CurrentUserReport(std::string_view login) {
  ReportSubject subject;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    const UserRecord* user = FindUser(login);
    if (!user) return {};
    subject = ReportSubjectLocked(*user);
  }
  return BuildReport(subject, ProgramClock().LocalNow());
}

}  // namespace brindlex
