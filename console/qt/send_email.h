// TSendEmail: the administrator's message to one user, queued to the user's
// report address; "Форма" starts it from the user's report. A message that
// cannot be queued stays in the dialog, and a box says why.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>

#include "console/console_engine.h"

namespace brindlex {

class TSendEmail final : public QDialog {
  Q_OBJECT

 public:
  TSendEmail(ConsoleEngine& engine, std::uint32_t userId, const std::string& userName, QWidget* parent);

 private:
  void Send();

  ConsoleEngine& engine_;
  std::uint32_t userId_;
  QPlainTextEdit* text_ = nullptr;
};

}  // namespace brindlex
