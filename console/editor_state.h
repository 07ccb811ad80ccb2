// The settings page being edited: loading it from the values in force,
// the edits and the change mask they set, apply (every changed control
// checked first; the first failure refuses the whole apply and stores
// nothing), and the administrator password that guards the configuration page.
//
// The widget binds each control by name, forwards what the administrator
// types, and shows the boxes and the focus this returns.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_engine.h"
#include "console/editor_pages.h"
#include "console/text_list.h"

namespace brindlex {

// The one change mask of the configuration page: the bits of the unsaved
// edits since the page was loaded, or kMaskLoading while it is filled.
class ChangeMask {
 public:
  void BeginLoad() { value_ = kMaskLoading; }
  void EndLoad() { value_ = 0; }
  bool Loading() const { return value_ == kMaskLoading; }
  // Ignored while loading.
  void Mark(int bits) {
    if (!Loading()) value_ |= bits;
  }
  int Value() const { return value_; }
  // Any set bit enables "Применить" and "Отменить".
  bool Dirty() const { return value_ > 0; }

 private:
  int value_ = 0;
};

// What an apply did: on failure the box to show and the control to focus
// (after switching to the tab that holds it); on success the bits whose
// effects the console carries out itself (kChangedUsersView, kChangedBackground).
struct EditorApplyResult {
  bool ok = true;
  ConfigBox box;
  std::string focusControl;
  int appliedMask = 0;
};

class SettingsPageEditor {
 public:
  SettingsPageEditor(ConsoleEngine& engine, ChangeMask& mask) : engine_(engine), mask_(mask) {}

  // Loads the page's controls from the values in force. `fill` runs while
  // the mask marks the page as loading: the widget sets its controls there,
  // and whatever edits they forward meanwhile mark nothing.
  void Load(int page, const std::function<void()>& fill = {});
  int Page() const { return page_; }

  std::string Text(std::string_view control) const;
  bool Checked(std::string_view control) const;
  TextList List(std::string_view control) const;

  // An edit's new text, or a check box's state.
  void Edit(std::string_view control, std::string text);
  void SetChecked(std::string_view control, bool checked);
  // The list commands; the answer is the input box's text.
  void SelectInList(std::string_view control, int index);
  void AddToList(std::string_view control, std::string_view answer);
  void EditInList(std::string_view control, std::string_view answer);
  void DeleteFromList(std::string_view control);

  // Stores the changed controls. On success the page is loaded again.
  EditorApplyResult Apply();
  // For a control that offers what the gateway has (the dial-up entries).
  ConsoleEngine& Engine() { return engine_; }

 private:
  struct Shown {
    const PageControl* control;
    ConfigControlValue value;
    int selected = -1;
    bool changed = false;
  };
  Shown* Find(std::string_view control);
  const Shown* Find(std::string_view control) const;
  // The edit that confirms `control`, or nullptr.
  const Shown* ConfirmationOf(std::string_view control) const;
  void Changed(Shown& shown);
  void ChangeList(std::string_view control, const std::function<bool(TextList&)>& change);

  ConsoleEngine& engine_;
  ChangeMask& mask_;
  int page_ = -1;
  std::vector<Shown> shown_;
};

// The password dialog that guards the configuration page.
struct PasswordDialogTexts {
  std::string caption;
  std::string prompt;
  std::string ok;
  std::string cancel;
};
PasswordDialogTexts AdminPasswordDialog();
// Whether the configuration page may be shown: always without a password;
// with one, only when `entered` is exactly it ("Отмена" enters "").
bool ConfigPageUnlocked(ConsoleEngine& engine, const std::function<std::string()>& askPassword);

}  // namespace brindlex
