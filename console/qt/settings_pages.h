// A settings page of the configuration tree, built from its control list:
// every control is named as its key's control ("EdHttpPort", "CbEnableHTTP",
// "LbInInterface") and captioned by the editor's table. Edits go to the
// settings page editor; the widget holds no values of its own.
#pragma once

#include <QListWidget>
#include <QWidget>
#include <functional>
#include <string>

#include "console/editor_state.h"

class QFormLayout;

namespace brindlex {

class SettingsPageWidget final : public QWidget {
  Q_OBJECT

 public:
  // `changed` runs after every edit the editor may have marked.
  SettingsPageWidget(int page, SettingsPageEditor& editor, std::function<void()> changed, QWidget* parent);
  int Page() const { return page_; }
  // Sets every control from the editor (called while the page loads).
  void Fill();
  // Brings the named control into focus (a failed apply's).
  void Focus(const std::string& control);
  // Where a list of the page's own records goes, below the controls (the
  // mail relays); an empty widget until one is put there.
  QWidget* Slot() { return slot_; }

 private:
  void AddListBox(const std::string& name, QFormLayout* form);
  void ShowList(const std::string& name);
  void AskListEntry(const std::string& name, bool add);
  void ChooseBackground();
  void OpenHostsFile();
  void ChooseDialUpEntry();

  int page_;
  SettingsPageEditor& editor_;
  std::function<void()> changed_;
  QWidget* slot_ = nullptr;
};

}  // namespace brindlex
