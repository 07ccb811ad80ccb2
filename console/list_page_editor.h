// The editor's list pages (the global filter, the mail relays, the port
// mappings): each loads its list from the values in force, changes a working
// copy that only the page sees, marks the configuration page changed, and
// stores the list whole when the page is applied.
#pragma once

#include <functional>

#include "console/editor_state.h"

namespace brindlex {

class ListPageEditor {
 public:
  // `mark` sets bits of the configuration page's change mask; `loaded` lets
  // the widget show the list again after a load.
  explicit ListPageEditor(std::function<void(int bits)> mark) : mark_(std::move(mark)) {}
  virtual ~ListPageEditor() = default;
  void SetLoaded(std::function<void()> loaded) { loaded_ = std::move(loaded); }

  // Drops the working copy and takes the values in force.
  void Load() {
    LoadList();
    if (loaded_) loaded_();
  }
  // Stores the working copy; on success the page is loaded again.
  EditorApplyResult Apply() {
    EditorApplyResult result = StoreList();
    if (result.ok) Load();
    return result;
  }

 protected:
  virtual void LoadList() = 0;
  virtual EditorApplyResult StoreList() = 0;
  void Mark(int bits) {
    if (mark_) mark_(bits);
  }

 private:
  std::function<void(int bits)> mark_;
  std::function<void()> loaded_;
};

}  // namespace brindlex
