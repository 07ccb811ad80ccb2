#include "console/editor_state.h"

#include "core/strings.h"

namespace brindlex {

void SettingsPageEditor::Load(int page, const std::function<void()>& fill) {
  mask_.BeginLoad();
  page_ = page;
  shown_.clear();
  std::vector<std::string> names;
  for (const PageControl& control : ConfigPageAt(page).controls) names.emplace_back(control.name);
  std::vector<ConfigControlValue> values = engine_.ConfigValues(names);
  for (const PageControl& control : ConfigPageAt(page).controls) {
    Shown shown{&control, {}, -1, false};
    shown.value.name = control.name;
    for (const ConfigControlValue& value : values)
      if (value.name == control.name) shown.value = value;
    // The confirmation starts equal to what it confirms, so that an apply
    // that did not touch the password does not fail on it.
    if (control.confirms)
      if (const Shown* confirmed = Find(control.confirms)) shown.value.text = confirmed->value.text;
    shown_.push_back(std::move(shown));
  }
  if (fill) fill();
  mask_.EndLoad();
}

SettingsPageEditor::Shown* SettingsPageEditor::Find(std::string_view control) {
  for (Shown& shown : shown_)
    if (shown.value.name == control) return &shown;
  return nullptr;
}

const SettingsPageEditor::Shown* SettingsPageEditor::Find(std::string_view control) const {
  return const_cast<SettingsPageEditor*>(this)->Find(control);
}

std::string SettingsPageEditor::Text(std::string_view control) const {
  const Shown* shown = Find(control);
  return shown ? shown->value.text : std::string();
}

bool SettingsPageEditor::Checked(std::string_view control) const { return Text(control) == "1"; }

const SettingsPageEditor::Shown* SettingsPageEditor::ConfirmationOf(std::string_view control) const {
  for (const Shown& shown : shown_)
    if (shown.control->confirms && control == shown.control->confirms) return &shown;
  return nullptr;
}

TextList SettingsPageEditor::List(std::string_view control) const {
  const Shown* shown = Find(control);
  return shown ? TextList{shown->value.items, shown->selected} : TextList{};
}

void SettingsPageEditor::Changed(Shown& shown) {
  mask_.Mark(shown.control->changeBits);
  if (mask_.Loading()) return;
  Shown* stored = shown.control->confirms ? Find(shown.control->confirms) : &shown;
  if (stored) stored->changed = true;
}

void SettingsPageEditor::Edit(std::string_view control, std::string text) {
  Shown* shown = Find(control);
  if (!shown || shown->value.text == text) return;
  shown->value.text = std::move(text);
  Changed(*shown);
}

void SettingsPageEditor::SetChecked(std::string_view control, bool checked) { Edit(control, checked ? "1" : "0"); }

void SettingsPageEditor::SelectInList(std::string_view control, int index) {
  if (Shown* shown = Find(control)) shown->selected = index;
}

void SettingsPageEditor::ChangeList(std::string_view control, const std::function<bool(TextList&)>& change) {
  Shown* shown = Find(control);
  if (!shown) return;
  TextList list{shown->value.items, shown->selected};
  bool changed = change(list);
  shown->value.items = std::move(list.items);
  shown->selected = list.selected;
  if (changed) Changed(*shown);
}

void SettingsPageEditor::AddToList(std::string_view control, std::string_view answer) {
  ChangeList(control, [&](TextList& list) { return AddListEntry(list, answer); });
}

void SettingsPageEditor::EditInList(std::string_view control, std::string_view answer) {
  ChangeList(control, [&](TextList& list) { return EditListEntry(list, answer); });
}

void SettingsPageEditor::DeleteFromList(std::string_view control) {
  ChangeList(control, [&](TextList& list) { return DeleteListEntry(list); });
}

EditorApplyResult SettingsPageEditor::Apply() {
  std::vector<ConfigControlValue> changed;
  for (const Shown& shown : shown_) {
    if (!shown.changed) continue;
    ConfigControlValue value = shown.value;
    if (const Shown* confirmation = ConfirmationOf(value.name)) value.confirmation = confirmation->value.text;
    changed.push_back(std::move(value));
  }
  const int mask = mask_.Value();
  ConfigApplyOutcome outcome = engine_.ApplyConfigControls(changed, mask);
  for (const ConfigControlValue& saved : outcome.saved) {
    if (Shown* shown = Find(saved.name)) {
      shown->value.text = saved.text;
      shown->value.items = saved.items;
      shown->changed = false;
    }
  }
  if (!outcome.ok) {
    // A password that its confirmation did not match is typed again.
    if (Shown* failed = Find(outcome.failedControl); failed && ConfirmationOf(failed->value.name))
      failed->value.text.clear();
    return {false, outcome.box, outcome.failedControl, 0};
  }
  Load(page_);
  return {true, {}, {}, mask};
}

PasswordDialogTexts AdminPasswordDialog() { return {Str(200), Str(201), Str(202), Str(203)}; }

bool ConfigPageUnlocked(ConsoleEngine& engine, const std::function<std::string()>& askPassword) {
  return !engine.AdminPasswordRequired() || engine.AdminPasswordMatches(askPassword());
}

}  // namespace brindlex
