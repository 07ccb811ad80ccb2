// Start-up load of a full account configuration (500 groups, 500 users with
// filters, e-mails and address lists) and the cost of one URL filter check
// over six lists of 1 000 entries each.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/url_filter.h"
#include "core/users.h"
#include "tests/unit/realistic_accounts.h"

using namespace brindlex;
using Clock = std::chrono::steady_clock;

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main() {
  char dir[] = "/tmp/brindlex_bench_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string path = std::string(dir) + "/Brindlex.ini";
  SetSettingsPath(path);
  const testing::RealisticAccounts accounts = testing::MakeRealisticAccounts(500, 500);
  std::ofstream(path, std::ios::binary) << accounts.text;

  std::vector<double> loads;
  for (int run = 0; run < 20; ++run) {
    Clock::time_point start = Clock::now();
    LoadAccounts(path);
    loads.push_back(MillisecondsSince(start));
  }
  std::printf("settings file: %zu bytes, %zu groups, %zu users\n", accounts.text.size(), Groups().size(),
              Users().size());
  std::printf("load accounts: median %.2f ms, best %.2f ms (20 runs)\n", Median(loads),
              *std::min_element(loads.begin(), loads.end()));

  std::string lists[6];
  for (int i = 0; i < 6; ++i) lists[i] = testing::RealisticFilterText(1000, i + 1);
  // All entries in force, so that a miss walks every one of them.
  for (std::string& list : lists) {
    FilterList parsed = ParseFilterText(list);
    for (FilterEntry& entry : parsed.entries) entry.off = 0;
    list = FormatFilterText(parsed);
  }
  FilterScopes scopes{lists[0], lists[1], lists[2], lists[3], lists[4], lists[5]};
  const char* urls[] = {"http://www.nowhere.org/path/to/some/page.html?q=1",
                        "http://site6996.example.com/index.html"};  // a miss, and a hit in the last list
  for (const char* url : urls) {
    const int calls = 2000;
    int refused = 0;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < calls; ++i) refused += FilterRequest(scopes, url) == FilterVerdict::Refuse;
    double total = MillisecondsSince(start);
    std::printf("filter request over 6 x 1000 entries (%s): %.1f us per request (%s)\n", url, total * 1000.0 / calls,
                refused ? "refused" : "allowed");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
