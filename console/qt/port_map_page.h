// Page 10 of the configuration: the port-mapping rules' grid and its
// commands, with TFormPortMap for add and edit. It shows a PortMapPageEditor,
// which the configuration page loads and applies; any change sets mask bit
// 128.
#pragma once

#include <QDialog>
#include <QTableWidget>
#include <QWidget>
#include <functional>

#include "console/port_map_page_editor.h"

namespace brindlex {

class PortMapPage final : public QWidget {
  Q_OBJECT

 public:
  PortMapPage(ConsoleEngine& engine, std::function<void(int bits)> mark, QWidget* parent);
  PortMapPageEditor& Editor() { return editor_; }
  QTableWidget* Table() { return table_; }
  // The dialog runs modal unless a test takes it from here first.
  void SetDialogRunner(std::function<void(QDialog&)> run) { run_ = std::move(run); }

 private:
  void Show();
  void AddOrEdit(bool add);

  PortMapPageEditor editor_;
  std::function<void(QDialog&)> run_;
  QTableWidget* table_ = nullptr;
};

}  // namespace brindlex
