// The outgoing mail queue and its sender. Messages are queued from any
// thread; a one-second tick on the main thread works the queue off in
// batches, one message per tick, through an SMTP client that a worker thread
// of the sender drives, so the main thread never waits on the network. The
// progress of the client, failures and the count of failed batches are
// reported as status texts ("SMTP: ...") on the main thread.
//
// States: idle, busy (a message or the disconnection under way) and failed.
// A failure of the client, or more than 30 ticks busy, fails the batch: every
// queued message is dropped and the failed-batch count grows by one. Once the
// queue is empty the connection is ended and the client released, and the
// count is shown.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "reports/mail_message.h"
#include "reports/smtp_client.h"

namespace brindlex {

enum class SenderState { kIdle, kBusy, kFailed };

// The status text of a client event ("SMTP: Соединение..." and so on);
// `detail` is the recipient of kRecipientRefused.
std::string SmtpStatusText(SmtpEvent event, const std::string& detail);
// "SMTP: Тайм-аут операции!" and "SMTP: Ошибок: <count>."
std::string SenderTimeoutText();
std::string FailedBatchesText(int count);

// Ticks a message or a disconnection may take before the batch fails.
inline constexpr int kMaxBusyTicks = 30;

class ReportSender {
 public:
  using ClientFactory = std::function<std::unique_ptr<SmtpClient>(const std::atomic<bool>& stop)>;
  using StatusSink = std::function<void(const std::string& text)>;

  // Starts the worker thread. `statusSink` is called on the thread that ticks.
  ReportSender(ClientFactory makeClient, StatusSink statusSink);
  // Abandons what the worker is doing and joins it.
  ~ReportSender();
  ReportSender(const ReportSender&) = delete;
  ReportSender& operator=(const ReportSender&) = delete;

  // Appends a message to the queue. Any thread.
  void Queue(OutgoingMail mail);
  // The one-second work: what the worker reported, then the queue.
  void Tick();

  // Waits until the worker has ended every job handed to it, for a caller
  // that ticks by hand (tests); false when the time-out passed first.
  bool WaitForWorker(std::chrono::milliseconds timeout) const;

  SenderState State() const;
  int FailedBatches() const;
  size_t QueuedMessages() const;

 private:
  enum class JobKind { kSend, kDisconnect, kRelease };
  struct Job {
    JobKind kind = JobKind::kSend;
    std::uint64_t serial = 0;
    SmtpServer server;
    SmtpEnvelope envelope;
  };
  // What the worker reports back: a status text, or the end of a job.
  struct Report {
    std::optional<std::string> text;
    bool jobDone = false;
    std::uint64_t serial = 0;
    bool ok = false;
    bool connected = false;
  };

  void WorkerLoop();
  void RunJob(Job& job);
  void HandLocked(Job job);
  void ApplyLocked(const Report& report);
  Job SendJobLocked(const OutgoingMail& mail);

  ClientFactory makeClient_;
  StatusSink statusSink_;
  std::atomic<bool> stop_{false};

  // Guarded by mutex_: the queue, the state, the worker's job and reports.
  mutable std::mutex mutex_;
  std::condition_variable jobReady_;
  mutable std::condition_variable jobEnded_;
  std::deque<OutgoingMail> queue_;
  SenderState state_ = SenderState::kIdle;
  int busyTicks_ = 0;
  int failedBatches_ = 0;
  bool clientExists_ = false;
  bool clientConnected_ = false;
  std::uint64_t currentSerial_ = 0;  // the job whose end the state waits for
  std::optional<Job> job_;           // handed to the worker, not yet taken
  bool workerOccupied_ = false;      // a job handed and its end not yet applied
  bool workerRunning_ = false;       // the worker took a job and is at it
  std::vector<Report> reports_;

  std::unique_ptr<SmtpClient> client_;  // the worker's alone
  std::thread worker_;
};

}  // namespace brindlex
