// The configuration tree's pages as data: the fifteen top nodes with their
// captions and headers, the controls of each settings page in saving order
// (every key of the settings table has its control on one of them),
// and which bits of the change mask an edit of a control sets. The editor
// and the widgets both read these tables, so that a control is bound to its
// key, its kind and its effect in one place.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brindlex {

// The change mask: what the edits since the page was loaded require at apply.
enum ChangeBits : int {
  kChangedAny = 1,
  kChangedUsersView = 2,  // groups, users or counted directions: rebuild the users view
  kChangedHttp = 4,
  kChangedFtp = 8,
  kChangedSmtp = 16,
  kChangedPop3 = 32,
  kChangedSocks5 = 64,
  kChangedPortMapping = 128,
  kChangedBackground = 256,
  kChangedLogKeeping = 512,  // delete the log files kept too long at once
};
// Bits 4-128: the listener must reopen services.
inline constexpr int kChangedServices =
    kChangedHttp | kChangedFtp | kChangedSmtp | kChangedPop3 | kChangedSocks5 | kChangedPortMapping;
// The mask while a page is being filled: edits made meanwhile are ignored.
inline constexpr int kMaskLoading = -1;

enum class PageContent {
  kGroups,       // the group list; the tree holds the groups and their users
  kSettings,     // controls bound to keys of section "System"
  kFilters,      // the global filter lists
  kPortMapping,  // the port-mapping rules
};

enum ConfigPageIndex : int {
  kPageUsers = 0,
  kPageInterfaces = 1,
  kPageLocalServers = 2,
  kPageClientAddresses = 3,
  kPageFilters = 4,
  kPageHttp = 5,
  kPageFtp = 6,
  kPageMail = 7,
  kPageSocks5 = 8,
  kPageDns = 9,
  kPagePortMapping = 10,
  kPageCache = 11,
  kPageMailing = 12,
  kPageDialUp = 13,
  kPageMore = 14,
  kConfigPageCount = 15,
};

enum class ControlKind { kEdit, kCheckBox, kComboBox, kListBox };

struct PageControl {
  const char* name;
  int captionId;  // the text shown beside or on the control
  int changeBits;
  // Set for an edit that is not stored itself but belongs to another (the
  // password's confirmation): editing it counts as an edit of that one.
  const char* confirms = nullptr;
};

struct TreePage {
  int captionId;  // the tree node's text
  int headerId;
  PageContent content;
  std::vector<PageControl> controls;  // in saving order
};

const TreePage& ConfigPageAt(int index);
std::string PageCaption(int index);
std::string PageHeader(int index);
std::string ControlCaption(const PageControl& control);

// The kind a control's two-letter prefix names ("Ed", "Cb", "Co", "Lb").
ControlKind KindOfControl(std::string_view controlName);
// The control of `page` with that name, or nullptr.
const PageControl* FindPageControl(int page, std::string_view controlName);

// The headers of the group and user pages.
std::string GroupPageHeader(std::string_view groupName);
std::string UserPageHeader(std::string_view fullName, std::string_view login);

}  // namespace brindlex
