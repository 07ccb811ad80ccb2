#include "console/qt/ticket_form.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>

#include "console/qt/localise.h"
#include "core/report_exception.h"
#include "core/strings.h"

namespace brindlex {

TTicketForm::TTicketForm(ConsoleEngine& engine, std::uint32_t userId, std::function<void()> changed, QWidget* parent)
    : QDialog(parent), window_(engine, userId), changed_(std::move(changed)) {
  setObjectName("TTicketForm");
  usable_ = window_.Refresh();
  opened_ = new QLabel(this);
  changedAt_ = new QLabel(this);
  auto* dates = new QGridLayout;
  dates->addWidget(new QLabel("#1302", this), 0, 0);
  dates->addWidget(opened_, 0, 1);
  dates->addWidget(new QLabel("#1303", this), 1, 0);
  dates->addWidget(changedAt_, 1, 1);
  dates->setColumnStretch(1, 1);

  auto* grid = new QGridLayout;
  const auto columns = TicketColumnTitles();
  for (int column = 0; column < 3; ++column)
    grid->addWidget(new QLabel(QString::fromStdString(columns[static_cast<size_t>(column)]), this), 0, column + 1);
  const auto rows = TicketRowTitles();
  for (int row = 0; row < kTicketRows; ++row) {
    const size_t i = static_cast<size_t>(row);
    grid->addWidget(new QLabel(QString::fromStdString(rows[i]), this), row + 1, 0);
    limits_[i] = new QLineEdit(this);
    limits_[i]->setObjectName(QString("EdLimit%1").arg(row));
    remaining_[i] = new QLabel(this);
    remaining_[i]->setMinimumWidth(90);
    add_[i] = new QLineEdit(this);
    add_[i]->setObjectName(QString("EdAdd%1").arg(row));
    grid->addWidget(limits_[i], row + 1, 1);
    grid->addWidget(remaining_[i], row + 1, 2);
    grid->addWidget(add_[i], row + 1, 3);
  }

  editDirectly_ = new QCheckBox("#1312", this);
  close_ = new QPushButton("#1313", this);
  apply_ = new QPushButton("#100", this);
  auto* ok = new QPushButton("#202", this);
  auto* cancel = new QPushButton("#203", this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(editDirectly_);
  buttons->addWidget(close_);
  buttons->addStretch(1);
  buttons->addWidget(apply_);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(dates);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  LocaliseCaptions(this);

  connect(editDirectly_, &QCheckBox::toggled, this, [this] { Show(); });
  connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });
  connect(ok, &QPushButton::clicked, this, [this] {
    if (Apply()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(close_, &QPushButton::clicked, this, [this] { AskClose(); });
  connect(&second_, &QTimer::timeout, this, [this] { ShowRemaining(); });
  second_.start(1000);
  Show();
}

void TTicketForm::Show() {
  setWindowTitle(QString::fromStdString(window_.Caption()));
  opened_->setText(QString::fromStdString(window_.OpenedText()));
  changedAt_->setText(QString::fromStdString(window_.ChangedText()));
  {
    const QSignalBlocker block(editDirectly_);
    if (window_.EditDirectlyForced()) editDirectly_->setChecked(true);
  }
  editDirectly_->setVisible(!window_.EditDirectlyForced());
  close_->setVisible(window_.CloseOffered());
  const bool direct = editDirectly_->isChecked();
  const TicketEntry limits = window_.LimitsAsEntry();
  const std::array<const std::string*, kTicketRows> entered{&limits.outgoingMb, &limits.incomingMb, &limits.minutes,
                                                            &limits.money, &limits.nationalMoney};
  for (int row = 0; row < kTicketRows; ++row) {
    const size_t i = static_cast<size_t>(row);
    // Editing directly, the limit column takes the amounts in the units they
    // are entered in; otherwise it shows the limits as they are counted.
    limits_[i]->setReadOnly(!direct);
    limits_[i]->setText(QString::fromStdString(direct ? *entered[i] : window_.LimitText(row)));
    add_[i]->setEnabled(!direct);
  }
  ShowRemaining();
}

void TTicketForm::ShowRemaining() {
  if (!window_.Refresh()) {
    // The user is gone or no longer prepaid.
    second_.stop();
    return;
  }
  for (int row = 0; row < kTicketRows; ++row)
    remaining_[static_cast<size_t>(row)]->setText(QString::fromStdString(window_.RemainingText(row)));
}

bool TTicketForm::Apply() {
  const bool direct = editDirectly_->isChecked();
  const auto& source = direct ? limits_ : add_;
  TicketEntry entry{source[0]->text().toStdString(), source[1]->text().toStdString(), source[2]->text().toStdString(),
                    source[3]->text().toStdString(), source[4]->text().toStdString()};
  const SubscriptionOutcome outcome = window_.Apply(entry, direct);
  if (!outcome.edit.ok) {
    QMessageBox::warning(this, QString::fromStdString(outcome.edit.caption),
                         QString::fromStdString(outcome.edit.message));
    return false;
  }
  for (QLineEdit* edit : add_) edit->clear();
  {
    const QSignalBlocker block(editDirectly_);
    editDirectly_->setChecked(false);
  }
  Show();
  if (changed_) changed_();
  return true;
}

void TTicketForm::AskClose() {
  const EditorQuestion question = TicketWindow::CloseQuestion();
  if (QMessageBox::question(this, QString::fromStdString(question.caption), QString::fromStdString(question.text),
                            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  window_.Close();
  if (changed_) changed_();
  accept();
}

void OpenTicketForm(ConsoleEngine& engine, std::uint32_t userId, std::function<void()> changed, QWidget* parent) {
  TTicketForm form(engine, userId, std::move(changed), parent);
  if (form.Usable())
    form.exec();
  else
    QMessageBox::warning(parent, kApplicationTitle, QString::fromStdString(Str(1415)));
}

}  // namespace brindlex
