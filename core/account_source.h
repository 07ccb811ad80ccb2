// Where a load of accounts reads from, and where it converts old filter lists.
//
// At start-up both are the parsed Brindlex.ini. When a saved copy is loaded,
// records come from the copy while old lists are still converted in
// Brindlex.ini. A loader that changes `settings` sets `settingsChanged`; the
// caller then saves that document once.
#pragma once

#include "core/ini_file.h"

namespace brindlex {

// Sections of the settings file that hold accounts.
inline constexpr const char* kGroupsSection = "Groups";
inline constexpr const char* kUsersSection = "Users";
inline constexpr const char* kAddressesSection = "UsersAddr";
inline constexpr const char* kEmailsSection = "Emails";
inline constexpr const char* kDenyFiltersSection = "Filters";
inline constexpr const char* kAllowFiltersSection = "FiltersW";
inline constexpr const char* kOldFiltersSection = "BlackList";

// Longest record value and longest list value read.
inline constexpr size_t kRecordTextMax = 32760;
inline constexpr size_t kListTextMax = 32767;

struct AccountSource {
  const IniDocument* source = nullptr;
  IniDocument* settings = nullptr;
  bool settingsChanged = false;
};

}  // namespace brindlex
