// Page 4 without its widgets: the global filter's on/off, its deny and
// allow lists behind the tabs "Запретить" and "Разрешить", the commands on
// the list shown (add, edit, delete, on/off, import) and the apply.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "console/config_editor.h"
#include "console/list_page_editor.h"

namespace brindlex {

enum FilterTab : int { kDenyTab = 0, kAllowTab = 1 };
// The tabs' captions, in FilterTab order.
std::vector<std::string> FilterTabTitles();
// The import's file dialog: "urls.flt" and the pattern files' filter.
CopyFileDialog FilterImportDialog(const std::string& programFolder);

// Where a filter page's lists come from and go: the global filter through
// the engine, or the filter texts of the group or user page's draft.
struct FilterListSource {
  std::function<ConsoleFilterLists()> load;
  std::function<void(const ConsoleFilterLists&)> store;
  // A draft takes every change at once (the account page applies the draft);
  // the global lists are stored when page 4 is applied.
  bool writeThrough = false;
};
FilterListSource GlobalFilterSource(ConsoleEngine& engine);
// The texts must outlive the source: they are the draft's own fields.
FilterListSource DraftFilterSource(std::string& denyText, std::string& allowText);

class FilterPageEditor final : public ListPageEditor {
 public:
  FilterPageEditor(FilterListSource source, std::function<void(int bits)> mark)
      : ListPageEditor(std::move(mark)), source_(std::move(source)) {}
  FilterPageEditor(ConsoleEngine& engine, std::function<void(int bits)> mark)
      : FilterPageEditor(GlobalFilterSource(engine), std::move(mark)) {}

  const ConsoleFilterLists& Lists() const { return lists_; }
  void SetEnabled(bool enabled);

  FilterTab Tab() const { return tab_; }
  void SelectTab(FilterTab tab);
  const std::vector<FilterEntry>& Shown() const { return tab_ == kDenyTab ? lists_.deny : lists_.allow; }
  int Selected() const { return selected_; }
  void Select(int row) { selected_ = row >= 0 && row < static_cast<int>(Shown().size()) ? row : -1; }
  // The selected entry, for the dialog of "Изменить"; nullptr without one.
  const FilterEntry* SelectedEntry() const;

  // The dialog's OK: false for an empty pattern (the focus goes back to it).
  // A new entry is appended in force and selected.
  bool Add(std::string_view pattern, int kind);
  bool Edit(std::string_view pattern, int kind);
  void Toggle();
  void Delete();
  // "Импорт" with "Добавить" (replace false) or "Заменить": the box to show
  // when the file cannot be read (nothing changes then).
  ConfigBox Import(const std::string& path, bool replace);

 private:
  void LoadList() override;
  EditorApplyResult StoreList() override;
  std::vector<FilterEntry>& ShownList() { return tab_ == kDenyTab ? lists_.deny : lists_.allow; }
  void Changed();

  FilterListSource source_;
  ConsoleFilterLists lists_;
  FilterTab tab_ = kDenyTab;
  int selected_ = -1;
};

}  // namespace brindlex
