// The e-mail reports as a service of the gateway: the sender and the daily
// schedule behind one one-second tick, the administrator's message to a user,
// and the report a user would get now. Status texts go to the monitor until
// someone (the console's status bar) subscribes to them.
//
// Threads: the tick and the subscription run on the main thread; queueing a
// message and building a report are safe from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "reports/report_schedule.h"
#include "reports/report_sender.h"

namespace brindlex {

class ReportService {
 public:
  ReportService(ReportSender::ClientFactory makeClient, ReportSender::StatusSink statusSink);

  // Works the queue, then runs the schedule. An exception is reported with
  // the module's name and the step it was at, and the service stops ticking.
  void Tick();
  bool Stopped() const { return stopped_; }

  ReportSender& Sender() { return sender_; }

 private:
  ReportSender sender_;
  ReportSchedule schedule_;
  int stepMarker_ = 0;
  bool stopped_ = false;
};

// The service of the running gateway, with the libcurl client. Start-up and
// shutdown, main thread.
void StartReportService();
void StopReportService();
// The main timer's call, once a second; nothing while no service runs.
void ReportServiceTick();
// Where the status texts go; an empty sink sends them to the monitor again.
void SetReportStatusSink(std::function<void(const std::string& text)> sink);

// Whether a service runs that still ticks (one stopped by an exception
// sends nothing more).
bool ReportServiceRunning();
// The administrator's message: queues (recipient, text) unless the text or
// the recipient is empty, or no service runs. True when queued.
bool QueueAdminMessage(std::string_view recipient, std::string_view text);
// The report the user with this login would get now (empty for a login not
// in the table or without a template); the text the administrator may start
// a message from. Takes the accounts lock.
std::string CurrentUserReport(std::string_view login);

}  // namespace brindlex
