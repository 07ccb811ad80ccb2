#include "app/settings_check.h"

#include <algorithm>

#include "core/file_io.h"
#include "core/ini_file.h"
#include "portmap/port_map_check.h"

namespace brindlex {

bool CheckSettingsFile(const std::string& path, std::vector<ConfigProblem>& problems) {
  std::string text;
  if (!ReadFileBounded(path, kIniMaxFile, text)) return false;
  problems = CheckConfiguration(text);
  std::vector<ConfigProblem> rules = CheckPortMapping(text);
  problems.insert(problems.end(), rules.begin(), rules.end());
  std::stable_sort(problems.begin(), problems.end(),
                   [](const ConfigProblem& a, const ConfigProblem& b) { return a.line < b.line; });
  return true;
}

}  // namespace brindlex
