#include "console/qt/send_email.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/qt/localise.h"
#include "core/report_exception.h"
#include "core/strings.h"

namespace brindlex {

TSendEmail::TSendEmail(ConsoleEngine& engine, std::uint32_t userId, const std::string& userName, QWidget* parent)
    : QDialog(parent), engine_(engine), userId_(userId) {
  setObjectName("TSendEmail");
  // "для" wants the genitive, which a name cannot be put into reliably; after
  // "пользователя" the quoted name stays as written.
  setWindowTitle(QString::fromStdString(Str(1812) + StrWith(1444, userName)));
  text_ = new QPlainTextEdit(this);
  auto* send = new QPushButton("#1813", this);
  auto* cancel = new QPushButton("#1814", this);
  auto* clear = new QPushButton("#114", this);
  auto* form = new QPushButton("#1815", this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(form);
  buttons->addWidget(clear);
  buttons->addStretch(1);
  buttons->addWidget(send);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_, 1);
  layout->addLayout(buttons);
  resize(520, 360);
  LocaliseCaptions(this);

  connect(send, &QPushButton::clicked, this, [this] { Send(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(clear, &QPushButton::clicked, text_, &QPlainTextEdit::clear);
  connect(form, &QPushButton::clicked, this,
          [this] { text_->setPlainText(QString::fromStdString(engine_.UserReport(userId_))); });
}

namespace {

int RefusalText(MailRefusal refusal) {
  switch (refusal) {
    case MailRefusal::kNoUser:
      return 1406;
    case MailRefusal::kNoAddress:
      return 1407;
    case MailRefusal::kNoServer:
      return 1408;
    case MailRefusal::kNoService:
      return 1409;
    case MailRefusal::kNone:
    case MailRefusal::kNoAnswer:
      break;
  }
  return 1410;
}

}  // namespace

void TSendEmail::Send() {
  // A message that is not sent keeps the dialog open with its text, and the
  // box says what to put right first.
  if (text_->toPlainText().trimmed().isEmpty()) {
    QMessageBox::warning(this, kApplicationTitle, QString::fromStdString(Str(1411)));
    return;
  }
  MailRefusal refusal = engine_.UserMessageRefusal(userId_);
  if (refusal == MailRefusal::kNone) {
    if (engine_.SendUserMessage(userId_, text_->toPlainText().toStdString())) {
      accept();
      return;
    }
    // Refused between the two calls (a setting changed, the link dropped).
    refusal = engine_.UserMessageRefusal(userId_);
  }
  QMessageBox::warning(this, kApplicationTitle, QString::fromStdString(Str(RefusalText(refusal))));
}

}  // namespace brindlex
