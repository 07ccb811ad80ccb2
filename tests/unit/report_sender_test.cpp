#include "reports/report_sender.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/main_loop.h"
#include "core/monitor.h"
#include "reports/koi8r_text.h"
#include "reports/report_service.h"
#include "tests/unit/account_world.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

// What the stand-in clients did, and what the next send should do.
struct ClientScript {
  std::mutex mutex;
  std::condition_variable released;
  std::vector<std::string> calls;
  std::vector<SmtpEnvelope> envelopes;
  int clientsMade = 0;
  std::optional<SmtpEvent> failNext;
  bool blockSends = false;

  void Record(std::string call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(std::move(call));
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      blockSends = false;
    }
    released.notify_all();
  }
};

class ScriptedClient final : public SmtpClient {
 public:
  explicit ScriptedClient(ClientScript& script) : script_(script) {}
  ~ScriptedClient() override { script_.Record("released"); }

  bool Send(const SmtpServer& server, const SmtpEnvelope& envelope, const SmtpEventHandler& onEvent) override {
    std::string recipients;
    for (const std::string& r : envelope.recipients) recipients += (recipients.empty() ? "" : ",") + r;
    script_.Record("send " + server.host + ":" + std::to_string(server.port) + "/" + server.identity + " from " +
                   envelope.senderAddress + " to " + recipients);
    std::optional<SmtpEvent> failure;
    {
      std::unique_lock<std::mutex> lock(script_.mutex);
      script_.envelopes.push_back(envelope);
      script_.released.wait(lock, [this] { return !script_.blockSends; });
      failure = script_.failNext;
      script_.failNext.reset();
    }
    onEvent(SmtpEvent::kTransferStarted, {});
    if (failure) {
      onEvent(*failure, "who@lan.example");
      return false;
    }
    onEvent(SmtpEvent::kMessageSent, {});
    connected_ = true;
    return true;
  }
  bool Connected() const override { return connected_; }
  void Disconnect(const SmtpEventHandler& onEvent) override {
    script_.Record("disconnect");
    connected_ = false;
    onEvent(SmtpEvent::kDisconnected, {});
  }

 private:
  ClientScript& script_;
  bool connected_ = false;
};

class ReportSenderTest : public AccountWorld {
 protected:
  void SetUp() override {
    AccountWorld::SetUp();
    ChangeSettings([](SystemSettings& s) {
      s.SpamServer = "127.0.0.1";
      s.SpamPort = 2525;
      s.EMailAdmin = "gate@lan.example";
      s.NameAdmin = "Шлюз";
    });
  }
  ReportSender::ClientFactory Factory() {
    return [this](const std::atomic<bool>&) {
      std::lock_guard<std::mutex> lock(script_.mutex);
      ++script_.clientsMade;
      return std::make_unique<ScriptedClient>(script_);
    };
  }
  ReportSender::StatusSink Sink() {
    return [this](const std::string& text) { texts_.push_back(text); };
  }
  // One tick, and whatever it handed the worker done.
  void Second(ReportSender& sender) {
    sender.Tick();
    ASSERT_TRUE(sender.WaitForWorker(10s));
  }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(script_.mutex);
    return script_.calls;
  }

  ClientScript script_;
  std::vector<std::string> texts_;
};

TEST_F(ReportSenderTest, ABatchSendsOneMessageATickThenDisconnectsAndShowsTheCount) {
  ReportSender sender(Factory(), Sink());
  sender.Queue({"a@lan.example", "Привет, ёж"});
  sender.Queue({"b@lan.example\r\nc@lan.example", "второе"});
  EXPECT_EQ(sender.QueuedMessages(), 2u);

  Second(sender);
  EXPECT_EQ(sender.State(), SenderState::kBusy);
  EXPECT_EQ(sender.QueuedMessages(), 1u);
  EXPECT_TRUE(texts_.empty());
  Second(sender);
  EXPECT_EQ(texts_, (std::vector<std::string>{"SMTP: Передача сообщения...", "SMTP: Сообщение отправлено."}));
  EXPECT_EQ(sender.QueuedMessages(), 0u);
  Second(sender);
  EXPECT_EQ(sender.State(), SenderState::kBusy);  // disconnecting
  Second(sender);
  Second(sender);
  EXPECT_EQ(sender.State(), SenderState::kIdle);
  EXPECT_EQ(texts_, (std::vector<std::string>{"SMTP: Передача сообщения...", "SMTP: Сообщение отправлено.",
                                              "SMTP: Передача сообщения...", "SMTP: Сообщение отправлено.",
                                              "SMTP: Разъединить.", "SMTP: Ошибок: 0."}));
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "send 127.0.0.1:2525/gate from gate@lan.example to a@lan.example",
                         "send 127.0.0.1:2525/gate from gate@lan.example to b@lan.example,c@lan.example",
                         "disconnect",
                         "released",
                     }));
  EXPECT_EQ(script_.clientsMade, 1);
  const std::string& message = script_.envelopes[0].message;
  EXPECT_NE(message.find("Content-Type: text/plain; charset=koi8-r\r\n"), std::string::npos);
  EXPECT_EQ(message.substr(message.find("\r\n\r\n") + 4), ToKoi8r("Привет, еж\r\n"));
  // Nothing more to do.
  Second(sender);
  EXPECT_EQ(texts_.size(), 6u);
  EXPECT_EQ(Calls().size(), 4u);
}

TEST_F(ReportSenderTest, AFailedMessageDropsTheRestOfTheBatchAndCountsIt) {
  ReportSender sender(Factory(), Sink());
  script_.failNext = SmtpEvent::kConnectionFailed;
  sender.Queue({"a@lan.example", "one"});
  sender.Queue({"b@lan.example", "two"});
  Second(sender);
  Second(sender);
  EXPECT_EQ(sender.QueuedMessages(), 0u);
  EXPECT_EQ(sender.FailedBatches(), 1);
  Second(sender);
  EXPECT_EQ(texts_,
            (std::vector<std::string>{"SMTP: Передача сообщения...", "SMTP: Ошибка соединения! ", "SMTP: Ошибок: 1."}));
  EXPECT_EQ(Calls().size(), 2u) << "one send, then the client released";
  EXPECT_EQ(Calls().back(), "released");

  // The next batch starts with a new client and the count stays.
  sender.Queue({"c@lan.example", "three"});
  for (int i = 0; i < 4; ++i) Second(sender);
  EXPECT_EQ(script_.clientsMade, 2);
  EXPECT_EQ(texts_.back(), "SMTP: Ошибок: 1.");
}

TEST_F(ReportSenderTest, EveryFailureOfTheClientShowsItsText) {
  ReportSender sender(Factory(), Sink());
  script_.failNext = SmtpEvent::kRecipientRefused;
  sender.Queue({"who@lan.example", "x"});
  Second(sender);
  Second(sender);
  EXPECT_EQ(texts_.back(), "SMTP: Не найден клиент: who@lan.example!");
  EXPECT_EQ(sender.FailedBatches(), 1);
  EXPECT_EQ(SmtpStatusText(SmtpEvent::kServerNotFound, {}), "SMTP: Не найден сервер!");
  EXPECT_EQ(SmtpStatusText(SmtpEvent::kTransferFailed, {}), "SMTP: Ошибка передачи! ");
  EXPECT_EQ(SmtpStatusText(SmtpEvent::kConnected, {}), "SMTP: Соединение...");
  EXPECT_EQ(SmtpStatusText(SmtpEvent::kResolved, {}), "SMTP: Решение имени...");
}

TEST_F(ReportSenderTest, AClientThatThrowsFailsTheBatchAndIsReported) {
  HeadlessMainLoop loop;
  SetMainLoop(&loop);
  std::vector<std::string> monitor;
  SetMonitorSink([&monitor](const std::string& line) { monitor.push_back(line); });
  {
    ReportSender sender([](const std::atomic<bool>&) -> std::unique_ptr<SmtpClient> { throw std::bad_alloc(); },
                        Sink());
    sender.Queue({"a@lan.example", "one"});
    sender.Queue({"b@lan.example", "two"});
    Second(sender);
    Second(sender);
    EXPECT_EQ(sender.FailedBatches(), 1);
    EXPECT_EQ(sender.QueuedMessages(), 0u);
    Second(sender);
    EXPECT_EQ(texts_, (std::vector<std::string>{"SMTP: Ошибок: 1."}));
  }
  loop.Pump();
  EXPECT_EQ(monitor, (std::vector<std::string>{"Exception: 'std::bad_alloc' in module 'SendEmail' Line=3"}));
  SetMonitorSink(nullptr);
  SetMainLoop(nullptr);
}

TEST_F(ReportSenderTest, MoreThanThirtyTicksBusyFailTheBatch) {
  ReportSender sender(Factory(), Sink());
  script_.blockSends = true;
  sender.Queue({"a@lan.example", "one"});
  sender.Queue({"b@lan.example", "two"});
  sender.Tick();  // hands the first message to the worker, which hangs
  for (int tick = 1; tick <= kMaxBusyTicks; ++tick) sender.Tick();
  EXPECT_EQ(sender.State(), SenderState::kBusy);
  EXPECT_TRUE(texts_.empty());
  sender.Tick();
  EXPECT_EQ(sender.State(), SenderState::kFailed);
  EXPECT_EQ(texts_, (std::vector<std::string>{"SMTP: Тайм-аут операции!"}));
  sender.Tick();
  EXPECT_EQ(sender.State(), SenderState::kIdle);
  EXPECT_EQ(sender.FailedBatches(), 1);
  EXPECT_EQ(sender.QueuedMessages(), 0u);
  // The client is the worker's until the hung send ends.
  sender.Tick();
  EXPECT_EQ(texts_.size(), 1u);
  script_.Release();
  ASSERT_TRUE(sender.WaitForWorker(10s));
  for (int i = 0; i < 4; ++i) Second(sender);
  EXPECT_EQ(texts_.back(), "SMTP: Ошибок: 1.");
  EXPECT_EQ(sender.FailedBatches(), 1);
  EXPECT_EQ(Calls().front(), "send 127.0.0.1:2525/gate from gate@lan.example to a@lan.example");
  for (const std::string& call : Calls()) EXPECT_EQ(call.find("b@lan.example"), std::string::npos) << call;
}

TEST_F(ReportSenderTest, MessagesQueuedFromOtherThreadsAllGo) {
  ReportSender sender(Factory(), Sink());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&sender, t] {
      for (int i = 0; i < 5; ++i) sender.Queue({"u" + std::to_string(t) + "@x", std::to_string(i)});
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(sender.QueuedMessages(), 20u);
  // One message a tick, the next handed out as the last one's end is seen.
  for (int i = 0; i < 21; ++i) Second(sender);
  EXPECT_EQ(sender.QueuedMessages(), 0u);
  EXPECT_EQ(script_.envelopes.size(), 20u);
}

class ReportServiceTest : public ReportSenderTest {};

TEST_F(ReportServiceTest, TheScheduleQueuesAtSpamTimeAndTheNextTickSends) {
  EnsureFolder(FormsFolder());
  std::ofstream(FormsFolder() + "/default.fem", std::ios::binary) << "Отчёт для %LOGIN: %SEND_DAY";
  ChangeSettings([](SystemSettings& s) { s.SpamTime = "12:00"; });
  UserRecord* ann = AddUser("ann");
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    ann->reportEmail = "ann@lan.example";
    ann->rules.dailyReport = true;
    ann->dayCounters.outgoing = 1536 * 1024;
  }
  SetLocalTime(LocalSeconds(2026, 12, 8, 11, 59, 59));
  ReportService service(Factory(), Sink());
  service.Tick();
  EXPECT_EQ(service.Sender().QueuedMessages(), 0u);
  SetLocalTime(LocalSeconds(2026, 12, 8, 12, 0, 0));
  service.Tick();
  EXPECT_EQ(service.Sender().QueuedMessages(), 1u);
  service.Tick();
  ASSERT_TRUE(service.Sender().WaitForWorker(10s));
  ASSERT_EQ(script_.envelopes.size(), 1u);
  EXPECT_EQ(script_.envelopes[0].recipients, (std::vector<std::string>{"ann@lan.example"}));
  const std::string& message = script_.envelopes[0].message;
  EXPECT_EQ(message.substr(message.find("\r\n\r\n") + 4), ToKoi8r("Отчет для ann: 1536 (1.5)\r\n"));
}

TEST_F(ReportServiceTest, AnExceptionInATickIsReportedAndStopsTheService) {
  HeadlessMainLoop loop;
  SetMainLoop(&loop);
  std::vector<std::string> monitor;
  SetMonitorSink([&monitor](const std::string& line) { monitor.push_back(line); });
  ReportService service(Factory(), [](const std::string&) { throw std::runtime_error("status bar gone"); });
  service.Sender().Queue({"a@lan.example", "one"});
  service.Tick();
  ASSERT_TRUE(service.Sender().WaitForWorker(10s));
  EXPECT_FALSE(service.Stopped());
  service.Tick();  // the worker's texts reach the failing sink
  EXPECT_TRUE(service.Stopped());
  loop.Pump();
  EXPECT_EQ(monitor, (std::vector<std::string>{"Exception: 'status bar gone' in module 'SendEmail' Line=1"}));
  // Stopped: queued mail stays where it is.
  service.Sender().Queue({"b@lan.example", "two"});
  service.Tick();
  ASSERT_TRUE(service.Sender().WaitForWorker(10s));
  EXPECT_EQ(script_.envelopes.size(), 1u);
  EXPECT_EQ(service.Sender().QueuedMessages(), 1u);
  SetMonitorSink(nullptr);
  SetMainLoop(nullptr);
}

TEST_F(ReportServiceTest, TheAdministratorsMessageNeedsTextAndARunningService) {
  EXPECT_FALSE(QueueAdminMessage("a@lan.example", "text")) << "no service";
  StartReportService();
  EXPECT_FALSE(QueueAdminMessage("a@lan.example", ""));
  EXPECT_FALSE(QueueAdminMessage("", "text"));
  EXPECT_TRUE(QueueAdminMessage("a@lan.example", "text"));
  StopReportService();
  EXPECT_FALSE(QueueAdminMessage("a@lan.example", "text"));
}

TEST_F(ReportServiceTest, TheCurrentReportOfAUser) {
  EnsureFolder(FormsFolder());
  std::ofstream(FormsFolder() + "/default.fem", std::ios::binary) << "%DISPL_NAME: %CUR_DATE";
  AddUser("ann");
  EXPECT_EQ(CurrentUserReport("ANN"), "ann: 07.12.2026");
  EXPECT_EQ(CurrentUserReport("nobody"), "");
}

}  // namespace
}  // namespace brindlex::testing
