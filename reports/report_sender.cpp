#include "reports/report_sender.h"

#include <utility>

#include "core/clock.h"
#include "core/report_exception.h"
#include "core/settings.h"

namespace brindlex {

namespace {

// The step an exception on the worker thread is reported with (the tick's
// own steps are 1 and 2).
constexpr int kWorkerStep = 3;

}  // namespace

std::string SmtpStatusText(SmtpEvent event, const std::string& detail) {
  switch (event) {
    case SmtpEvent::kConnected:
      return "SMTP: Соединение...";
    case SmtpEvent::kResolved:
      return "SMTP: Решение имени...";
    case SmtpEvent::kTransferStarted:
      return "SMTP: Передача сообщения...";
    case SmtpEvent::kConnectionFailed:
      return "SMTP: Ошибка соединения! ";
    case SmtpEvent::kServerNotFound:
      return "SMTP: Не найден сервер!";
    case SmtpEvent::kTransferFailed:
      return "SMTP: Ошибка передачи! ";
    case SmtpEvent::kRecipientRefused:
      return "SMTP: Не найден клиент: " + detail + "!";
    case SmtpEvent::kMessageSent:
      return "SMTP: Сообщение отправлено.";
    case SmtpEvent::kDisconnected:
      return "SMTP: Разъединить.";
  }
  return {};
}

std::string SenderTimeoutText() { return "SMTP: Тайм-аут операции!"; }

std::string FailedBatchesText(int count) { return "SMTP: Ошибок: " + std::to_string(count) + "."; }

ReportSender::ReportSender(ClientFactory makeClient, StatusSink statusSink)
    : makeClient_(std::move(makeClient)), statusSink_(std::move(statusSink)), worker_([this] { WorkerLoop(); }) {}

ReportSender::~ReportSender() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  jobReady_.notify_all();
  worker_.join();
}

void ReportSender::Queue(OutgoingMail mail) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(mail));
}

SenderState ReportSender::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

int ReportSender::FailedBatches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failedBatches_;
}

size_t ReportSender::QueuedMessages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

ReportSender::Job ReportSender::SendJobLocked(const OutgoingMail& mail) {
  std::shared_ptr<const SystemSettings> settings = Settings();
  Clock& clock = ProgramClock();
  std::int64_t localNow = clock.LocalNow();
  Job job;
  job.kind = JobKind::kSend;
  job.server = {settings->SpamServer, settings->SpamPort, GreetingIdentity(settings->EMailAdmin)};
  job.envelope.senderAddress = settings->EMailAdmin;
  job.envelope.recipients = RecipientAddresses(mail.recipient);
  job.envelope.message =
      ComposeMailMessage(mail, {settings->NameAdmin, settings->EMailAdmin}, localNow, localNow - clock.GreenwichNow());
  return job;
}

void ReportSender::HandLocked(Job job) {
  job.serial = currentSerial_ + 1;
  currentSerial_ = job.serial;
  workerOccupied_ = true;
  job_ = std::move(job);
  jobReady_.notify_one();
}

void ReportSender::ApplyLocked(const Report& report) {
  if (!report.jobDone) return;
  workerOccupied_ = false;
  clientConnected_ = report.connected;
  // The end of a job the time-out already gave up on changes nothing else.
  if (report.serial == currentSerial_ && state_ == SenderState::kBusy)
    state_ = report.ok ? SenderState::kIdle : SenderState::kFailed;
}

void ReportSender::Tick() {
  std::vector<std::string> texts;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Report& report : reports_) {
      if (report.text) texts.push_back(*report.text);
      ApplyLocked(report);
    }
    reports_.clear();
    switch (state_) {
      case SenderState::kBusy:
        if (++busyTicks_ > kMaxBusyTicks) {
          texts.push_back(SenderTimeoutText());
          state_ = SenderState::kFailed;
        }
        break;
      case SenderState::kFailed:
        queue_.clear();
        ++failedBatches_;
        state_ = SenderState::kIdle;
        break;
      case SenderState::kIdle:
        // A job the time-out gave up on may still be running: the client is
        // the worker's until it ends.
        if (workerOccupied_) break;
        if (!queue_.empty()) {
          state_ = SenderState::kBusy;
          busyTicks_ = 0;
          clientExists_ = true;
          HandLocked(SendJobLocked(queue_.front()));
          queue_.pop_front();
        } else if (clientConnected_) {
          state_ = SenderState::kBusy;
          busyTicks_ = 0;
          HandLocked(Job{JobKind::kDisconnect, 0, {}, {}});
        } else if (clientExists_) {
          clientExists_ = false;
          HandLocked(Job{JobKind::kRelease, 0, {}, {}});
          texts.push_back(FailedBatchesText(failedBatches_));
        }
        break;
    }
  }
  for (const std::string& text : texts)
    if (statusSink_) statusSink_(text);
}

void ReportSender::WorkerLoop() {
  while (true) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      jobReady_.wait(lock, [this] { return stop_ || job_.has_value(); });
      if (stop_) break;
      job = std::move(*job_);
      job_.reset();
      workerRunning_ = true;
    }
    RunJob(job);
  }
  client_.reset();
}

void ReportSender::RunJob(Job& job) {
  SmtpEventHandler onEvent = [this](SmtpEvent event, const std::string& detail) {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back({SmtpStatusText(event, detail)});
  };
  bool ok = true;
  try {
    switch (job.kind) {
      case JobKind::kSend:
        if (!client_) client_ = makeClient_(stop_);
        ok = client_->Send(job.server, job.envelope, onEvent);
        break;
      case JobKind::kDisconnect:
        if (client_) client_->Disconnect(onEvent);
        break;
      case JobKind::kRelease:
        client_.reset();
        break;
    }
  } catch (...) {
    // The batch fails like any failed send; the client may be in any state.
    ok = false;
    client_.reset();
    ReportCurrentExceptionAndGoOn("SendEmail", kWorkerStep);
  }
  Report done;
  done.jobDone = true;
  done.serial = job.serial;
  done.ok = ok;
  done.connected = client_ && client_->Connected();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(std::move(done));
    workerRunning_ = false;
  }
  jobEnded_.notify_all();
}

bool ReportSender::WaitForWorker(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return jobEnded_.wait_for(lock, timeout, [this] { return !job_.has_value() && !workerRunning_; });
}

}  // namespace brindlex
