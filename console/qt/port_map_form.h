// TFormPortMap: the port-mapping rule dialog ("Назначение порта"). Its OK
// hands the fields to the port-mapping page's logic; a refusal shows the
// warning box and keeps the dialog open on the field it names.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <vector>

#include "console/port_map_page_editor.h"

namespace brindlex {

class TFormPortMap final : public QDialog {
  Q_OBJECT

 public:
  // `editing` is the rule shown, or -1 for a new one.
  TFormPortMap(PortMapPageEditor& editor, PortMapDialog dialog, int editing, QWidget* parent);
  QLineEdit* Field(DialogField field);

 public slots:
  void accept() override;

 private:
  void ShowSourceRange();
  void ShowUsers();

  PortMapPageEditor& editor_;
  PortMapDialog dialog_;
  int editing_;
  std::vector<Ipv4> listenAddresses_;
  QLineEdit* name_ = nullptr;
  QRadioButton* tcp_ = nullptr;
  QRadioButton* udp_ = nullptr;
  QComboBox* source_ = nullptr;
  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  QWidget* range_ = nullptr;
  QComboBox* listen_ = nullptr;
  QLineEdit* listenPort_ = nullptr;
  QLineEdit* host_ = nullptr;
  QLineEdit* port_ = nullptr;
  QRadioButton* fixed_ = nullptr;
  QRadioButton* byClient_ = nullptr;
  QComboBox* user_ = nullptr;
};

}  // namespace brindlex
