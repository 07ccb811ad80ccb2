// Keeps the console's window in step with its gateway: every 20 ms the
// pushes the link has received are handed to the views on the console's
// thread, and the status bar says which gateway the window shows and whether
// the link to it is up. The administrator's answers the link needs (the
// gateway's password, trust in its certificate) are asked on the console's
// thread, whichever thread the link asks from.
#pragma once

#include <QObject>
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "console/admin_client.h"
#include "console/console_target.h"
#include "console/remote_engine.h"
#include "console/qt/main_form.h"

namespace brindlex {

class GatewayLink final : public QObject {
  Q_OBJECT

 public:
  explicit GatewayLink(ConsoleTarget target, QObject* parent = nullptr);
  ~GatewayLink() override;
  RemoteEngine& Engine() { return *engine_; }
  AdminClient& Client() { return *client_; }
  // The window whose views the pushes refresh; starts the pump.
  void Attach(TMainFormBX& form);
  // Before that window goes: the pump stops until the next Attach.
  void Detach();
  // Asks the gateway for its orderly stop.
  void StopGateway();

 private:
  void Pump();
  void ShowLinkState();
  // A question of the link's thread, asked by the pump on the console's
  // thread; `refused` when the link goes first.
  template <typename Answer>
  Answer OnConsoleThread(const std::function<Answer()>& ask, Answer refused);
  void AnswerQuestions(bool ask);
  std::optional<std::string> AskPassword();
  bool ConfirmCertificate(const std::string& pinTarget, const std::string& fingerprint, bool changed);

  struct Question {
    std::function<void()> ask;
    bool done = false;  // guarded by questionsMutex_
  };

  ConsoleTarget target_;
  const std::thread::id consoleThread_;
  std::mutex questionsMutex_;
  std::condition_variable answered_;
  std::deque<Question*> questions_;  // guarded by questionsMutex_
  bool closing_ = false;             // guarded by questionsMutex_
  std::unique_ptr<AdminClient> client_;
  std::unique_ptr<RemoteEngine> engine_;
  TMainFormBX* form_ = nullptr;
  ConsoleRefresh refresh_;
  QTimer pump_;
  bool wasUp_ = false;
  std::string password_;  // the last one the administrator gave
  std::string shownLink_;
};

}  // namespace brindlex
