// The editor's lists of texts (intranet interfaces, local servers, client
// addresses, a user's e-mail addresses): what add, edit and delete do to the
// entries and the selection, and the input box each list asks with. Pure
// functions of the list; the widget shows the entries and the selection.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "console/console_engine.h"

namespace brindlex {

struct TextList {
  std::vector<std::string> items;
  int selected = -1;  // -1: none
};

// The input box of a list's add and edit: caption and prompt.
struct ListPrompt {
  std::string caption;
  std::string prompt;
};
// `listName` is the list box's name ("LbInInterface", "LbLocalHosts",
// "LbUsersAddrs", or "LbEMails" on the user page).
ListPrompt AddPrompt(std::string_view listName);
ListPrompt EditPrompt(std::string_view listName);

// Each returns whether the entries changed. The answer is trimmed first; an
// empty answer changes nothing. An answer already in the list (letter case
// counting) is selected instead of being added, and an edit that makes its
// entry equal to another removes the edited one and selects the other.
bool AddListEntry(TextList& list, std::string_view answer);
bool EditListEntry(TextList& list, std::string_view answer);
// Removes the selected entry and selects the one now at its place, or the last.
bool DeleteListEntry(TextList& list);

// An e-mail address for a user must hold '@'; otherwise the box to show.
ConfigBox CheckEmailAddress(std::string_view address);

}  // namespace brindlex
