// What the console tests that run against a real gateway share: pumping the
// console's events until something shows, answering the questions the
// console asks, and a main window attached to a freshly started gateway over
// its local socket.
#pragma once

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/qt/gateway_link.h"
#include "console/qt/main_form.h"
#include "tests/integration/harness.h"

namespace brindlex::testing {

inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QTest::qWait(20);
  }
  return true;
}

// Answers what the console asks while the test pumps: a password dialog
// with `password`, a question box with Yes when `trust` (No otherwise);
// keeps the questions' texts.
class Answers {
 public:
  explicit Answers(std::string answer = "") : password(std::move(answer)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        questions.push_back(box->text().toStdString());
        QAbstractButton* answer = box->button(trust ? QMessageBox::Yes : QMessageBox::No);
        if (answer == nullptr) answer = box->button(QMessageBox::Ok);
        if (answer == nullptr && !box->buttons().isEmpty()) answer = box->buttons().first();
        if (answer != nullptr) answer->click();
      } else if (auto* dialog = qobject_cast<QInputDialog*>(modal)) {
        ++passwordsAsked;
        dialog->setTextValue(QString::fromStdString(password));
        dialog->accept();
      }
    });
    timer_.start(10);
  }
  bool trust = true;
  std::string password;
  std::vector<std::string> questions;
  int passwordsAsked = 0;

 private:
  QTimer timer_;
};

// A gateway started for one test with `systemLines` and `accounts`, and the
// console's main window attached to it over the local socket, shown at the
// window's default size once the link is up.
struct AttachedWindow {
  AttachedWindow(const std::string& systemLines, const std::string& accounts)
      : gateway(systemLines, accounts), link(Target(gateway.home)), form(link.Engine(), MainFormCommands{}) {
    link.Attach(form);
    form.show();
    up = gateway.started && PumpUntil([this] { return link.Client().State().up; });
  }
  ~AttachedWindow() { link.Detach(); }

  static ConsoleTarget Target(const std::string& home) {
    ConsoleTarget target;
    target.folder = home;
    return target;
  }

  ProxyGateway gateway;
  GatewayLink link;
  TMainFormBX form;
  bool up = false;
};

}  // namespace brindlex::testing
