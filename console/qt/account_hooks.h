// What the group and user page widgets ask of the configuration page that
// holds them: the flows that move between nodes or rebuild the tree are the
// page's, so that the leave question is asked in one place.
#pragma once

#include <cstdint>
#include <functional>

#include "console/config_editor.h"

namespace brindlex {

struct AccountPageHooks {
  // The change mask may have changed: "Применить" and "Отменить" follow it.
  std::function<void()> changed;
  // Go to a node of the tree (asking the leave question first).
  std::function<void(const EditorNode&)> select;
  std::function<void()> addGroup;
  std::function<void(std::uint32_t groupNumber)> addUser;
  // Groups or users were stored or removed: the tree and the users view are
  // built again.
  std::function<void()> accountsChanged;
  // Applies the page as "Применить" does (its boxes included); false when
  // it failed.
  std::function<bool()> apply;
  // "Дополнительно": the additional-restrictions dialog over the page's
  // rules; true when it returned OK. Unset: the button is disabled.
  std::function<bool(AccessRules& rules, bool isGroup)> restrictions;
};

}  // namespace brindlex
