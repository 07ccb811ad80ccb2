#include "console/filter_page_editor.h"

#include "core/strings.h"
#include "core/url_filter.h"

namespace brindlex {

std::vector<std::string> FilterTabTitles() { return {Str(927), Str(147)}; }

CopyFileDialog FilterImportDialog(const std::string& programFolder) { return {Str(1272), Str(1273), programFolder}; }

void FilterPageEditor::LoadList() {
  lists_ = engine_.GlobalFilterLists();
  selected_ = Shown().empty() ? -1 : 0;
}

EditorApplyResult FilterPageEditor::StoreList() {
  engine_.ApplyGlobalFilterLists(lists_);
  return {};
}

void FilterPageEditor::SetEnabled(bool enabled) {
  if (lists_.enabled == enabled) return;
  lists_.enabled = enabled;
  Mark(kChangedAny);
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
  Mark(kChangedAny);
  return true;
}

bool FilterPageEditor::Edit(std::string_view pattern, int kind) {
  if (selected_ < 0 || !EditFilterEntry(ShownList(), static_cast<size_t>(selected_), pattern, kind)) return false;
  Mark(kChangedAny);
  return true;
}

void FilterPageEditor::Toggle() {
  if (!SelectedEntry()) return;
  ToggleFilterEntry(ShownList(), static_cast<size_t>(selected_));
  Mark(kChangedAny);
}

void FilterPageEditor::Delete() {
  if (!SelectedEntry()) return;
  DeleteFilterEntry(ShownList(), static_cast<size_t>(selected_));
  if (selected_ >= static_cast<int>(Shown().size())) selected_ = static_cast<int>(Shown().size()) - 1;
  Mark(kChangedAny);
}

ConfigBox FilterPageEditor::Import(const std::string& path, bool replace) {
  const EditOutcome outcome = ImportFilterFile(path, replace, ShownList());
  if (!outcome.ok) return {outcome.caption, outcome.message};
  selected_ = Shown().empty() ? -1 : 0;
  Mark(kChangedAny);
  return {};
}

}  // namespace brindlex
