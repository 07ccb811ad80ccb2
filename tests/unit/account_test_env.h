// A fixture for tests of the account modules: a private settings file in a
// fresh temporary folder and empty group, user and global-filter tables.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

#include "core/groups.h"
#include "core/ini_file.h"
#include "core/settings.h"
#include "core/url_filter.h"
#include "core/users.h"

namespace brindlex::testing {

class AccountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex_accounts_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    savedPath_ = SettingsPath();
    SetSettingsPath(dir_ + "/Brindlex.ini");
    Users().clear();
    Groups().clear();
    GlobalFilters() = {};
  }
  void TearDown() override {
    Users().clear();
    Groups().clear();
    GlobalFilters() = {};
    SetSettingsPath(savedPath_);
    std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Writes the settings file and loads the accounts from it.
  void LoadFrom(const std::string& text) {
    WriteText(SettingsPath(), text);
    LoadAccounts(SettingsPath());
  }
  // One value of the settings file as it is now, or nullopt-like "<absent>".
  std::string Stored(const char* section, const std::string& key) {
    IniDocument document = LoadIniFile(SettingsPath());
    const std::string* value = FindValue(document, section, key);
    return value ? *value : "<absent>";
  }

  std::string dir_;  // the temporary folder, removed at the end of the test

 private:
  std::string savedPath_;
};

}  // namespace brindlex::testing
