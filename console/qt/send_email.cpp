#include "console/qt/send_email.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/qt/localise.h"
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

  connect(send, &QPushButton::clicked, this, [this] {
    // An empty message is not sent; the dialog stays for the text.
    if (text_->toPlainText().trimmed().isEmpty()) return;
    engine_.SendUserMessage(userId_, text_->toPlainText().toStdString());
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(clear, &QPushButton::clicked, text_, &QPlainTextEdit::clear);
  connect(form, &QPushButton::clicked, this,
          [this] { text_->setPlainText(QString::fromStdString(engine_.UserReport(userId_))); });
}

}  // namespace brindlex
