#include "console/text_list.h"

#include <algorithm>

#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

int PromptOf(std::string_view listName) {
  if (listName == "LbInInterface") return 16;
  if (listName == "LbLocalHosts") return 15;
  if (listName == "LbUsersAddrs") return 151;  // the range dialog's prompt
  return 1156;
}

int IndexOf(const TextList& list, std::string_view text) {
  auto found = std::find(list.items.begin(), list.items.end(), text);
  return found == list.items.end() ? -1 : static_cast<int>(found - list.items.begin());
}

bool HasSelection(const TextList& list) {
  return list.selected >= 0 && static_cast<size_t>(list.selected) < list.items.size();
}

}  // namespace

ListPrompt AddPrompt(std::string_view listName) { return {Str(14), Str(PromptOf(listName))}; }

ListPrompt EditPrompt(std::string_view listName) { return {Str(17), Str(PromptOf(listName))}; }

bool AddListEntry(TextList& list, std::string_view answer) {
  std::string value(Trim(answer));
  if (value.empty()) return false;
  if (int existing = IndexOf(list, value); existing >= 0) {
    list.selected = existing;
    return false;
  }
  list.items.push_back(std::move(value));
  list.selected = static_cast<int>(list.items.size()) - 1;
  return true;
}

bool EditListEntry(TextList& list, std::string_view answer) {
  std::string value(Trim(answer));
  if (value.empty() || !HasSelection(list)) return false;
  std::string& edited = list.items[static_cast<size_t>(list.selected)];
  if (edited == value) return false;
  if (int other = IndexOf(list, value); other >= 0) {
    list.items.erase(list.items.begin() + list.selected);
    list.selected = other > list.selected ? other - 1 : other;
    return true;
  }
  edited = std::move(value);
  return true;
}

bool DeleteListEntry(TextList& list) {
  if (!HasSelection(list)) return false;
  list.items.erase(list.items.begin() + list.selected);
  if (list.selected >= static_cast<int>(list.items.size())) list.selected = static_cast<int>(list.items.size()) - 1;
  return true;
}

ConfigBox CheckEmailAddress(std::string_view address) {
  if (address.find('@') != std::string_view::npos) return {};
  return {Str(1158), Str(1157)};
}

}  // namespace brindlex
