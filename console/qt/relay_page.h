// The mail-relay list of page 7: the domain rules' grid and its commands,
// with TFormRelayEdit for add and edit. It shows a RelayPageEditor, which
// the configuration page loads and applies with the page's settings.
#pragma once

#include <QDialog>
#include <QTableWidget>
#include <QWidget>
#include <functional>

#include "console/relay_page_editor.h"

namespace brindlex {

class RelayPage final : public QWidget {
  Q_OBJECT

 public:
  RelayPage(ConsoleEngine& engine, std::function<void(int bits)> mark, QWidget* parent);
  RelayPageEditor& Editor() { return editor_; }
  QTableWidget* Table() { return table_; }
  // The dialog runs modal unless a test takes it from here first.
  void SetDialogRunner(std::function<void(QDialog&)> run) { run_ = std::move(run); }

 private:
  void Show();
  void AddOrEdit(bool add);

  RelayPageEditor editor_;
  std::function<void(QDialog&)> run_;
  QTableWidget* table_ = nullptr;
};

}  // namespace brindlex
