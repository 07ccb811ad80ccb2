#include "console/filter_page_editor.h"

#include "core/filter_text.h"
#include "core/strings.h"
#include "core/url_filter.h"

namespace brindlex {

std::vector<std::string> FilterTabTitles() { return {Str(927), Str(147)}; }

CopyFileDialog FilterImportDialog(const std::string& programFolder) { return {Str(1272), Str(1273), programFolder}; }

FilterListSource GlobalFilterSource(ConsoleEngine& engine) {
  return {[&engine] { return engine.GlobalFilterLists(); },
          [&engine](const ConsoleFilterLists& lists) { engine.ApplyGlobalFilterLists(lists); }, false};
}

FilterListSource DraftFilterSource(std::string& denyText, std::string& allowText) {
  auto load = [&denyText, &allowText] {
    const FilterList deny = ParseFilterText(denyText);
    return ConsoleFilterLists{deny.enabled, deny.entries, ParseFilterText(allowText).entries};
  };
  auto store = [&denyText, &allowText](const ConsoleFilterLists& lists) {
    denyText = FormatFilterText({lists.enabled, lists.deny});
    allowText = FormatFilterText({lists.enabled, lists.allow});
  };
  return {load, store, true};
}

void FilterPageEditor::LoadList() {
  lists_ = source_.load();
  selected_ = Shown().empty() ? -1 : 0;
}

EditorApplyResult FilterPageEditor::StoreList() {
  source_.store(lists_);
  return {};
}

void FilterPageEditor::Changed() {
  if (source_.writeThrough) source_.store(lists_);
  Mark(kChangedAny);
}

void FilterPageEditor::SetEnabled(bool enabled) {
  if (lists_.enabled == enabled) return;
  lists_.enabled = enabled;
  Changed();
}

void FilterPageEditor::SelectTab(FilterTab tab) {
  tab_ = tab;
  selected_ = Shown().empty() ? -1 : 0;
}

const FilterEntry* FilterPageEditor::SelectedEntry() const {
  return selected_ >= 0 && selected_ < static_cast<int>(Shown().size()) ? &Shown()[selected_] : nullptr;
}

bool FilterPageEditor::Add(std::string_view pattern, int kind) {
  if (!AddFilterEntry(ShownList(), pattern, kind)) return false;
  selected_ = static_cast<int>(Shown().size()) - 1;
  Changed();
  return true;
}

bool FilterPageEditor::Edit(std::string_view pattern, int kind) {
  if (selected_ < 0 || !EditFilterEntry(ShownList(), static_cast<size_t>(selected_), pattern, kind)) return false;
  Changed();
  return true;
}

void FilterPageEditor::Toggle() {
  if (!SelectedEntry()) return;
  ToggleFilterEntry(ShownList(), static_cast<size_t>(selected_));
  Changed();
}

void FilterPageEditor::Delete() {
  if (!SelectedEntry()) return;
  DeleteFilterEntry(ShownList(), static_cast<size_t>(selected_));
  if (selected_ >= static_cast<int>(Shown().size())) selected_ = static_cast<int>(Shown().size()) - 1;
  Changed();
}

ConfigBox FilterPageEditor::Import(const std::string& path, bool replace) {
  const EditOutcome outcome = ImportFilterFile(path, replace, ShownList());
  if (!outcome.ok) return {outcome.caption, outcome.message};
  selected_ = Shown().empty() ? -1 : 0;
  Changed();
  return {};
}

}  // namespace brindlex
