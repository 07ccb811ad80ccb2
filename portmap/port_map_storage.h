// The rules in the settings file: section "PortMapping", one key per rule
// (its name) in list order, the value
//   SourceKind; SourceFrom; SourceTo; ListenAddress; ListenPort; DestHost;
//   DestPort; AuthByClient; Login; Protocol; Disabled;
// Reading a value is a parse of file input: any text gives a rule (missing
// or unreadable numbers are 0, addresses 0.0.0.0, texts empty, and texts are
// cut at kPortMapTextMax bytes).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/ini_file.h"
#include "core/port_map_rules.h"

namespace brindlex {

inline constexpr const char* kPortMapSection = "PortMapping";
inline constexpr size_t kPortMapTextMax = 511;

std::string FormatRuleValue(const PortMapRule& rule);
PortMapRule ParseRuleValue(std::string_view name, std::string_view value);

// The rules of the document's section, in file order.
std::vector<PortMapRule> ReadPortMapRules(const IniDocument& document);
// The section's entries for the rules, in list order.
std::vector<std::pair<std::string, std::string>> PortMapEntries(const std::vector<PortMapRule>& rules);
// Clears the section of the settings file at `path` and writes every rule
// into it; false when the file could not be written.
bool SavePortMapRules(const std::string& path, const std::vector<PortMapRule>& rules);

}  // namespace brindlex
