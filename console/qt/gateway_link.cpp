#include "console/qt/gateway_link.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QStatusBar>
#include <cstdio>
#include <thread>

#include "console/admin_calls.h"
#include "console/qt/console_application.h"
#include "core/strings.h"

namespace brindlex {
namespace {

constexpr int kPumpMilliseconds = 20;

}  // namespace

template <typename Answer>
Answer GatewayLink::OnConsoleThread(const std::function<Answer()>& ask, Answer refused) {
  if (std::this_thread::get_id() == consoleThread_) return ask();
  // The link's thread waits here while the pump asks on the console's
  // thread: a plain queue and condition variable rather than Qt's
  // cross-thread calls, whose locking neither we nor the race checker see.
  Answer answer = refused;
  Question question{[&] { answer = ask(); }};
  std::unique_lock lock(questionsMutex_);
  if (closing_) return refused;
  questions_.push_back(&question);
  answered_.wait(lock, [&] { return question.done; });
  return answer;
}

void GatewayLink::AnswerQuestions(bool ask) {
  std::deque<Question*> waiting;
  {
    std::lock_guard lock(questionsMutex_);
    waiting.swap(questions_);
  }
  for (Question* question : waiting) {
    if (ask) question->ask();
    std::lock_guard lock(questionsMutex_);
    question->done = true;
  }
  answered_.notify_all();
}

GatewayLink::GatewayLink(ConsoleTarget target, QObject* parent)
    : QObject(parent), target_(std::move(target)), consoleThread_(std::this_thread::get_id()) {
  AdminClientOptions options;
  options.programFolder = target_.folder;
  options.host = target_.host;
  options.port = target_.port;
  options.password = [this] {
    return OnConsoleThread<std::optional<std::string>>([this] { return AskPassword(); }, std::nullopt);
  };
  options.confirmFingerprint = [this](const std::string& pinned, const std::string& fingerprint, bool changed) {
    return OnConsoleThread<bool>([&] { return ConfirmCertificate(pinned, fingerprint, changed); }, false);
  };
  client_ = std::make_unique<AdminClient>(std::move(options));
  engine_ = std::make_unique<RemoteEngine>(*client_);
  pump_.setInterval(kPumpMilliseconds);
  connect(&pump_, &QTimer::timeout, this, &GatewayLink::Pump);
}

GatewayLink::~GatewayLink() {
  pump_.stop();
  // A question still waiting is refused, so the link's thread can end.
  {
    std::lock_guard lock(questionsMutex_);
    closing_ = true;
  }
  AnswerQuestions(false);
  client_.reset();
}

void GatewayLink::Attach(TMainFormBX& form) {
  form_ = &form;
  refresh_ = form.Refresh();
  engine_->SetRefreshHandler([this](std::uint8_t bits) {
    const auto call = [](const std::function<void()>& hook) {
      if (hook) hook();
    };
    if (bits & kRefreshPerSecond) call(refresh_.perSecondViews);
    if (bits & kRefreshUsers) call(refresh_.rebuildUsersView);
    if (bits & kRefreshTray) call(refresh_.trayUpkeep);
    if (bits & kRefreshSpeed) call(refresh_.repaintSpeedWindows);
    if (bits & kRefreshTree) call(refresh_.repaintTree);
  });
  ShowLinkState();
  pump_.start();
}

void GatewayLink::Detach() {
  pump_.stop();
  engine_->SetRefreshHandler({});
  form_ = nullptr;
  refresh_ = {};
  wasUp_ = false;
  shownLink_.clear();
}

void GatewayLink::StopGateway() { client_->Call(static_cast<std::uint16_t>(AdminCall::kStopGateway), {}); }

void GatewayLink::Pump() {
  HandlerStep step("GatewayLink", 1);
  AnswerQuestions(true);
  step.Set(2);
  client_->DeliverPushes([this](AdminPush kind, std::string_view payload) {
    // The gateway's last words (its shutdown, say) stay readable a while.
    if (kind == AdminPush::kFarewell && form_ != nullptr)
      form_->statusBar()->showMessage(QString::fromUtf8(payload.data(), static_cast<int>(payload.size())), 15000);
    engine_->HandlePush(kind, payload);
  });
  step.Set(3);
  ShowLinkState();
}

void GatewayLink::ShowLinkState() {
  if (form_ == nullptr) return;
  const AdminLinkState state = client_->State();
  const std::string name = state.gatewayHost.empty() ? target_.Name() : state.gatewayHost + " (" + target_.Name() + ")";
  const std::string text = state.up ? StrWith(1317, name) : StrWith(1318, name, state.lastError);
  if (state.up && !wasUp_) {
    // Back after a gateway's restart: what the views show is from before it.
    if (refresh_.rebuildUsersView) refresh_.rebuildUsersView();
    if (refresh_.repaintTree) refresh_.repaintTree();
  }
  wasUp_ = state.up;
  if (text == shownLink_) return;
  shownLink_ = text;
  form_->SetLinkText(text, state.up);
}

std::optional<std::string> GatewayLink::AskPassword() {
  // A gateway that restarted gets the password given before; only one that
  // refused it has the administrator asked again.
  const std::string refusal = client_->State().lastError;
  if (!password_.empty() && refusal != Str(1234) && refusal != Str(1235)) return password_;
  bool ok = false;
  const QString text =
      QInputDialog::getText(form_ != nullptr && form_->isVisible() ? form_ : nullptr, QApplication::applicationName(),
                            QString::fromStdString(StrWith(1332, target_.Name())), QLineEdit::Password, {}, &ok);
  if (!ok) return std::nullopt;
  password_ = text.toStdString();
  return password_;
}

bool GatewayLink::ConfirmCertificate(const std::string& pinTarget, const std::string& fingerprint, bool changed) {
  const std::string text =
      changed ? ChangedFingerprintWarning(target_.Name(),
                                          PinnedFingerprint(KnownGatewaysPath(), pinTarget).value_or("?"), fingerprint) +
                    "\n\n" + Str(1331)
              : StrWith(1319, target_.Name(), fingerprint);
  // A changed certificate is the one to be wary of: Enter keeps refusing it.
  const auto answer = QMessageBox::question(
      form_ != nullptr && form_->isVisible() ? form_ : nullptr, QApplication::applicationName(),
      QString::fromStdString(text),
      QMessageBox::Yes | QMessageBox::No, changed ? QMessageBox::No : QMessageBox::Yes);
  return answer == QMessageBox::Yes;
}

}  // namespace brindlex
