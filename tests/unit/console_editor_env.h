// A fixture for the configuration editor's tests: the account fixture's
// private settings file, the in-process engine whose apply re-reads that file
// (accounts, settings and port mappings) as the gateway's reload does and
// records the services it was asked to reopen, and the editor over it.
#pragma once

#include <vector>

#include "console/config_editor.h"
#include "console/local_engine.h"
#include "core/account_reload.h"
#include "core/ini_file.h"
#include "core/port_map_rules.h"
#include "core/settings.h"
#include "portmap/port_map_storage.h"
#include "tests/unit/account_test_env.h"

namespace brindlex::testing {

class ConsoleEditorTest : public AccountTest {
 protected:
  void TearDown() override {
    ReplacePortMapRules({});
    PublishSettings(SystemSettings{});
    AccountTest::TearDown();
  }
  // Writes the settings file and puts it in force, accounts included.
  void Start(const std::string& text) {
    LoadFrom(text);
    ReloadSystemSettings(LoadIniFile(SettingsPath()));
  }

  std::vector<int> reopened_;  // one entry per apply of the settings file
  LocalEngine engine_{[this](int reopenMask) {
    reopened_.push_back(reopenMask);
    IniDocument document = LoadIniFile(SettingsPath());
    AccountSource source{&document, &document};
    ReloadAccounts(source);
    ReloadSystemSettings(document);
    ReplacePortMapRules(ReadPortMapRules(document));
  }};
  ConfigEditor editor_{engine_};
};

}  // namespace brindlex::testing
