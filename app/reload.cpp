#include "app/reload.h"

#include <cstdio>

#include "app/startup.h"
#include "core/account_reload.h"
#include "core/ini_file.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/strings.h"
#include "mail/mail_rules.h"
#include "net/listener.h"
#include "portmap/port_map_check.h"
#include "portmap/port_map_storage.h"

namespace brindlex {

void ReloadSettingsFile(Listener& listener, int alsoReopen) {
  // One reading serves every part, so that none of them sees a later edit
  // than another.
  IniDocument document = LoadIniFile(SettingsPath());
  AccountSource source{&document, &document};
  ReloadAccounts(source);
  if (source.settingsChanged) SaveIniFile(SettingsPath(), document);

  const auto before = Settings();
  for (const std::string& key : ReloadSystemSettings(document)) {
    char line[512];
    std::snprintf(line, sizeof(line), StrC(1231), key.c_str());
    MonitorAppend(line);
  }
  LoadMailRules(document);
  std::vector<PortMapRule> rules = ReadPortMapRules(document);
  DisableLoops(rules);
  CarryOverSockets(PortMapRules(), rules);
  ReplacePortMapRules(std::move(rules));
  ListenerReopen(listener, ChangedServices(*before, *Settings()) | kReopenPortMapping | alsoReopen);
  MonitorAppend(Str(1230));
  ReportConfigurationProblems();
  // Accounts may have come, gone or changed: every console's users page
  // shows the file as now in force.
  Flags().usersDirty = true;
}

}  // namespace brindlex
