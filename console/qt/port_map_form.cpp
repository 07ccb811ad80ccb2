#include "console/qt/port_map_form.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/qt/localise.h"

namespace brindlex {

namespace {

QLineEdit* Edit(const std::string& text, const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(QString::fromStdString(text), parent);
  edit->setObjectName(name);
  return edit;
}

}  // namespace

TFormPortMap::TFormPortMap(PortMapPageEditor& editor, PortMapDialog dialog, int editing, QWidget* parent)
    : QDialog(parent), editor_(editor), dialog_(std::move(dialog)), editing_(editing) {
  setObjectName("TFormPortMap");
  setWindowTitle("#1250");
  name_ = Edit(dialog_.name, "EdName", this);
  tcp_ = new QRadioButton("TCP", this);
  udp_ = new QRadioButton("UDP", this);
  (dialog_.protocol == kPortMapUdp ? udp_ : tcp_)->setChecked(true);
  auto* head = new QFormLayout;
  head->addRow("#1274", name_);
  auto* protocol = new QHBoxLayout;
  protocol->addWidget(tcp_);
  protocol->addWidget(udp_);
  protocol->addStretch(1);
  head->addRow("#1275", protocol);

  auto* outgoing = new QGroupBox("#1276", this);
  source_ = new QComboBox(outgoing);
  source_->setObjectName("CoSource");
  for (const std::string& item : SourceKindChoices()) source_->addItem(QString::fromStdString(item));
  source_->setCurrentIndex(dialog_.sourceKind);
  range_ = new QWidget(outgoing);
  from_ = Edit(dialog_.sourceFrom, "EdSourceFrom", range_);
  to_ = Edit(dialog_.sourceTo, "EdSourceTo", range_);
  auto* rangeRow = new QHBoxLayout(range_);
  rangeRow->setContentsMargins(0, 0, 0, 0);
  rangeRow->addWidget(new QLabel("#1278", range_));
  rangeRow->addWidget(from_);
  rangeRow->addWidget(new QLabel("#1279", range_));
  rangeRow->addWidget(to_);
  auto* outgoingForm = new QFormLayout(outgoing);
  outgoingForm->addRow("#1277", source_);
  outgoingForm->addRow(range_);

  auto* listening = new QGroupBox("#1280", this);
  listen_ = new QComboBox(listening);
  listen_->setObjectName("CoListen");
  listenAddresses_ = editor_.ListenAddressesFor(dialog_);
  for (const std::string& item : ListenAddressChoices(listenAddresses_)) listen_->addItem(QString::fromStdString(item));
  for (size_t i = 0; i < listenAddresses_.size(); ++i)
    if (listenAddresses_[i] == dialog_.listenAddress) listen_->setCurrentIndex(static_cast<int>(i) + 1);
  listenPort_ = Edit(dialog_.listenPort, "EdListenPort", listening);
  auto* listeningForm = new QFormLayout(listening);
  listeningForm->addRow("#1277", listen_);
  listeningForm->addRow("#1281", listenPort_);

  auto* destination = new QGroupBox("#1282", this);
  host_ = Edit(dialog_.destHost, "EdDestHost", destination);
  port_ = Edit(dialog_.destPort, "EdDestPort", destination);
  auto* destinationForm = new QFormLayout(destination);
  destinationForm->addRow("#1283", host_);
  destinationForm->addRow("#1284", port_);

  auto* authorisation = new QGroupBox("#1285", this);
  fixed_ = new QRadioButton("#1286", authorisation);
  byClient_ = new QRadioButton("#1287", authorisation);
  (dialog_.authByClient ? byClient_ : fixed_)->setChecked(true);
  user_ = new QComboBox(authorisation);
  user_->setObjectName("CoUser");
  for (const UserChoice& choice : editor_.Users()) user_->addItem(QString::fromStdString(choice.text));
  user_->setCurrentIndex(dialog_.user);
  auto* authorisationForm = new QFormLayout(authorisation);
  auto* radios = new QHBoxLayout;
  radios->addWidget(fixed_);
  radios->addWidget(byClient_);
  radios->addStretch(1);
  authorisationForm->addRow(radios);
  authorisationForm->addRow("#1288", user_);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton("#202", QDialogButtonBox::AcceptRole)->setObjectName("OkButton");
  buttons->addButton("#203", QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &TFormPortMap::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TFormPortMap::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(head);
  layout->addWidget(outgoing);
  layout->addWidget(listening);
  layout->addWidget(destination);
  layout->addWidget(authorisation);
  layout->addWidget(buttons);
  setMinimumWidth(420);
  LocaliseCaptions(this);

  connect(source_, &QComboBox::currentIndexChanged, this, [this] { ShowSourceRange(); });
  connect(from_, &QLineEdit::textEdited, this, [this](const QString& text) {
    TypeSourceFrom(dialog_, text.toStdString());
    to_->setText(QString::fromStdString(dialog_.sourceTo));
  });
  connect(fixed_, &QRadioButton::toggled, this, [this] { ShowUsers(); });
  ShowSourceRange();
  ShowUsers();
}

void TFormPortMap::ShowSourceRange() { range_->setVisible(source_->currentIndex() == kSourceRange); }

void TFormPortMap::ShowUsers() { user_->setEnabled(fixed_->isChecked()); }

QLineEdit* TFormPortMap::Field(DialogField field) {
  switch (field) {
    case DialogField::kSourceFrom:
      return from_;
    case DialogField::kSourceTo:
      return to_;
    case DialogField::kListenPort:
      return listenPort_;
    case DialogField::kDestHost:
      return host_;
    case DialogField::kDestPort:
      return port_;
    case DialogField::kName:
    case DialogField::kUser:
    case DialogField::kNone:
      break;
  }
  return name_;
}

void TFormPortMap::accept() {
  dialog_.name = name_->text().toStdString();
  dialog_.protocol = udp_->isChecked() ? kPortMapUdp : kPortMapTcp;
  dialog_.sourceKind = static_cast<std::uint8_t>(source_->currentIndex());
  dialog_.sourceFrom = from_->text().toStdString();
  dialog_.sourceTo = to_->text().toStdString();
  const int listen = listen_->currentIndex();
  dialog_.listenAddress = listen >= 1 ? listenAddresses_[static_cast<size_t>(listen - 1)] : 0;
  dialog_.listenPort = listenPort_->text().toStdString();
  dialog_.destHost = host_->text().toStdString();
  dialog_.destPort = port_->text().toStdString();
  dialog_.authByClient = byClient_->isChecked();
  dialog_.user = user_->currentIndex();
  const DialogOutcome outcome = editor_.Accept(dialog_, editing_);
  if (!outcome.ok) {
    if (outcome.field == DialogField::kUser)
      user_->setFocus();
    else
      Field(outcome.field)->setFocus();
    QMessageBox::warning(this, QString::fromStdString(outcome.caption), QString::fromStdString(outcome.message));
    return;
  }
  QDialog::accept();
}

}  // namespace brindlex
