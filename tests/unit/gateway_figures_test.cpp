// The gateway's figures: the counters bumped where the work is done, the
// collector that gathers them with the engine's own tables, and the two texts
// made of them, the administrator's status and the metrics page, which a
// small reader of the exposition format parses back here.
#include "console/gateway_figures.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/accounting.h"
#include "core/connection.h"
#include "core/port_map_rules.h"
#include "core/process_state.h"
#include "core/refusal_monitor.h"
#include "core/service_counters.h"
#include "core/strings.h"
#include "tests/unit/account_world.h"

namespace brindlex {
namespace {

// --- A reader of the exposition format ---------------------------------------

struct Sample {
  std::string name;
  std::map<std::string, std::string> labels;
  std::string value;
};

struct Exposition {
  std::map<std::string, std::string> help;
  std::map<std::string, std::string> type;
  std::vector<Sample> samples;
  std::vector<std::string> problems;
};

bool IsNameChar(char c, bool first) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || (!first && c >= '0' && c <= '9');
}

// name{label="value",...} value, with \\ \" \n escapes in label values.
bool ReadSample(const std::string& line, Sample& sample) {
  size_t i = 0;
  while (i < line.size() && IsNameChar(line[i], i == 0)) ++i;
  if (i == 0) return false;
  sample.name = line.substr(0, i);
  if (i < line.size() && line[i] == '{') {
    ++i;
    while (i < line.size() && line[i] != '}') {
      size_t start = i;
      while (i < line.size() && IsNameChar(line[i], i == start)) ++i;
      if (i == start || line.compare(i, 2, "=\"") != 0) return false;
      std::string label = line.substr(start, i - start);
      i += 2;
      std::string value;
      while (i < line.size() && line[i] != '"') {
        if (line[i] == '\\') {
          if (++i >= line.size()) return false;
          char c = line[i];
          if (c != '\\' && c != '"' && c != 'n') return false;
          value += c == 'n' ? '\n' : c;
        } else {
          value += line[i];
        }
        ++i;
      }
      if (i >= line.size()) return false;
      ++i;  // the closing quote
      if (!sample.labels.emplace(label, value).second) return false;
      if (i < line.size() && line[i] == ',') ++i;
    }
    if (i >= line.size()) return false;
    ++i;
  }
  if (i >= line.size() || line[i] != ' ') return false;
  sample.value = line.substr(i + 1);
  return !sample.value.empty() && std::all_of(sample.value.begin(), sample.value.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '-';
  });
}

Exposition Parse(const std::string& text) {
  Exposition out;
  if (text.empty() || text.back() != '\n') out.problems.push_back("the text does not end in a line feed");
  std::istringstream lines(text);
  std::string line;
  std::set<std::string> keys;
  std::string family;
  while (std::getline(lines, line)) {
    if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) {
      std::string rest = line.substr(7);
      size_t space = rest.find(' ');
      std::string name = rest.substr(0, space);
      std::string what = space == std::string::npos ? "" : rest.substr(space + 1);
      auto& table = line[2] == 'H' ? out.help : out.type;
      if (!table.emplace(name, what).second) out.problems.push_back("family named twice: " + line);
      if (what.empty()) out.problems.push_back("empty: " + line);
      family = name;
      continue;
    }
    Sample sample;
    if (!ReadSample(line, sample)) {
      out.problems.push_back("not a sample: " + line);
      continue;
    }
    if (sample.name != family) out.problems.push_back("sample outside its family: " + line);
    std::string key = sample.name;
    for (const auto& [label, value] : sample.labels) key += "|" + label + "=" + value;
    if (!keys.insert(key).second) out.problems.push_back("sample twice: " + line);
    out.samples.push_back(std::move(sample));
  }
  for (const auto& [name, type] : out.type) {
    if (!out.help.count(name)) out.problems.push_back("no HELP: " + name);
    if (type != "counter" && type != "gauge") out.problems.push_back("type: " + name + " " + type);
    bool total = name.size() > 6 && name.compare(name.size() - 6, 6, "_total") == 0;
    if ((type == "counter") != total) out.problems.push_back("a counter ends in _total, nothing else: " + name);
    if (name.rfind("brindlex_", 0) != 0) out.problems.push_back("not ours: " + name);
  }
  for (const auto& [name, help] : out.help)
    if (!out.type.count(name)) out.problems.push_back("no TYPE: " + name);
  return out;
}

// The value of the one sample with these labels, or "" when there is none.
std::string ValueOf(const Exposition& e, const std::string& name, const std::map<std::string, std::string>& labels = {}) {
  for (const Sample& s : e.samples)
    if (s.name == name && s.labels == labels) return s.value;
  return "";
}

GatewayFigures Example() {
  GatewayFigures f;
  f.uptimeSeconds = 93784;  // 1 day 02:03:04
  f.connections = 12;
  f.usersOnline = 3;
  f.logLinesWaiting = 7;
  f.logBytesWaiting = 420;
  f.logLinesLost = 2;
  f.ports = {{kServiceHttp, "", 3128, true},
             {kServiceHttp, "", 8080, false},
             {kServiceSocks5, "", 1080, true},
             {kServicePortMapTcp, "mail \"in\"\\x", 2525, true}};
  f.counters.services[kServiceHttp] = {1000, 250000, 40, 5};
  f.counters.services[kServiceFtpControl] = {10, 20, 1, 0};
  f.counters.dnsAnsweredLocally = 31;
  f.counters.dnsForwarded = 17;
  f.counters.dnsRefused = 4;
  f.counters.cacheHits = 9;
  f.counters.cacheMisses = 11;
  f.counters.cacheBytes = 65536;
  return f;
}

// --- The metrics text ---------------------------------------------------------

TEST(MetricsText, ParsesBackWithEveryFamilyDescribedAndEverySampleOnce) {
  const Exposition e = Parse(MetricsText(Example()));
  for (const std::string& problem : e.problems) ADD_FAILURE() << problem;
  EXPECT_GE(e.type.size(), 15u);
  // Every service has its counters, so that a dashboard's series exist
  // before the first byte.
  for (std::uint8_t s = 0; s < kCountedServices; ++s)
    EXPECT_NE(ValueOf(e, "brindlex_bytes_to_clients_total", {{"service", std::string(ServiceKey(s))}}), "")
        << ServiceKey(s);
}

TEST(MetricsText, CarriesEachFigureUnderItsNameAndLabels) {
  const Exposition e = Parse(MetricsText(Example()));
  EXPECT_EQ(ValueOf(e, "brindlex_uptime_seconds"), "93784");
  EXPECT_EQ(ValueOf(e, "brindlex_connections"), "12");
  EXPECT_EQ(ValueOf(e, "brindlex_users_online"), "3");
  EXPECT_EQ(ValueOf(e, "brindlex_log_queue_lines"), "7");
  EXPECT_EQ(ValueOf(e, "brindlex_log_queue_bytes"), "420");
  EXPECT_EQ(ValueOf(e, "brindlex_log_lines_lost_total"), "2");
  EXPECT_EQ(ValueOf(e, "brindlex_bytes_from_clients_total", {{"service", "http"}}), "1000");
  EXPECT_EQ(ValueOf(e, "brindlex_bytes_to_clients_total", {{"service", "http"}}), "250000");
  EXPECT_EQ(ValueOf(e, "brindlex_connections_accepted_total", {{"service", "http"}}), "40");
  EXPECT_EQ(ValueOf(e, "brindlex_refusals_total", {{"service", "http"}}), "5");
  EXPECT_EQ(ValueOf(e, "brindlex_connections_accepted_total", {{"service", "ftp"}}), "1");
  EXPECT_EQ(ValueOf(e, "brindlex_refusals_total", {{"service", "smtp"}}), "0");
  EXPECT_EQ(ValueOf(e, "brindlex_dns_queries_total", {{"outcome", "local"}}), "31");
  EXPECT_EQ(ValueOf(e, "brindlex_dns_queries_total", {{"outcome", "forwarded"}}), "17");
  EXPECT_EQ(ValueOf(e, "brindlex_dns_queries_total", {{"outcome", "refused"}}), "4");
  EXPECT_EQ(ValueOf(e, "brindlex_cache_hits_total"), "9");
  EXPECT_EQ(ValueOf(e, "brindlex_cache_misses_total"), "11");
  EXPECT_EQ(ValueOf(e, "brindlex_cache_served_bytes_total"), "65536");
  EXPECT_EQ(ValueOf(e, "brindlex_listening", {{"service", "http"}, {"port", "3128"}}), "1");
  EXPECT_EQ(ValueOf(e, "brindlex_listening", {{"service", "http"}, {"port", "8080"}}), "0");
  EXPECT_EQ(ValueOf(e, "brindlex_listening", {{"service", "socks5"}, {"port", "1080"}}), "1");
  // A rule's name is the administrator's text: quotes and backslashes in it
  // are escaped, and read back as they were.
  EXPECT_EQ(ValueOf(e, "brindlex_listening", {{"service", "portmap_tcp"}, {"port", "2525"}, {"rule", "mail \"in\"\\x"}}),
            "1");
}

TEST(MetricsText, ARuleNameWithALineFeedStaysOnOneLine) {
  GatewayFigures f;
  f.ports = {{kServicePortMapUdp, "two\nlines", 53, false}};
  const Exposition e = Parse(MetricsText(f));
  for (const std::string& problem : e.problems) ADD_FAILURE() << problem;
  EXPECT_EQ(ValueOf(e, "brindlex_listening", {{"service", "portmap_udp"}, {"port", "53"}, {"rule", "two\nlines"}}), "0");
}

// --- The status text ----------------------------------------------------------

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

size_t Characters(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The line whose label is `label`, split into label and value.
std::string StatusValue(const std::string& status, const std::string& label) {
  for (const std::string& line : Lines(status)) {
    if (line.rfind(label + "  ", 0) != 0) continue;
    size_t value = line.find_first_not_of(' ', label.size());
    return value == std::string::npos ? "" : line.substr(value);
  }
  return "<" + label + " missing>";
}

std::string Label(int id, size_t index) {
  std::string text = Str(id);
  for (size_t i = 0; i < index; ++i) text = text.substr(text.find('|') + 1);
  return text.substr(0, text.find('|'));
}

TEST(FormatStatus, OneFigurePerLineWithTheValuesInOneColumn) {
  const std::string status = FormatStatus(Example());
  const std::vector<std::string> lines = Lines(status);
  ASSERT_GT(lines.size(), 20u);
  // Where each value starts, counted in characters (the labels are Cyrillic).
  std::set<size_t> columns;
  for (const std::string& line : lines) {
    size_t gap = line.find("  ");
    ASSERT_NE(gap, std::string::npos) << line;
    size_t value = line.find_first_not_of(' ', gap);
    ASSERT_NE(value, std::string::npos) << line;
    columns.insert(Characters(line.substr(0, value)));
  }
  EXPECT_EQ(columns.size(), 1u) << status;
}

TEST(FormatStatus, ShowsEachFigureUnderItsLabel) {
  const std::string status = FormatStatus(Example());
  EXPECT_EQ(StatusValue(status, Label(1295, 0)), "1 д 02:03:04");
  EXPECT_EQ(StatusValue(status, Label(1295, 1)), "12");
  EXPECT_EQ(StatusValue(status, Label(1295, 2)), "3");
  EXPECT_EQ(StatusValue(status, Label(1295, 3)), "7");
  EXPECT_EQ(StatusValue(status, Label(1295, 4)), "420");
  EXPECT_EQ(StatusValue(status, Label(1295, 5)), "2");
  EXPECT_EQ(StatusValue(status, "http, " + Label(1296, 0) + " 3128"), Label(1296, 1));
  EXPECT_EQ(StatusValue(status, "http, " + Label(1296, 0) + " 8080"), Label(1296, 2));
  EXPECT_EQ(StatusValue(status, "portmap_tcp, " + Label(1296, 0) + " 2525 (mail \"in\"\\x)"), Label(1296, 1));
  EXPECT_EQ(StatusValue(status, "http: " + Label(1296, 3)), "40");
  EXPECT_EQ(StatusValue(status, "http: " + Label(1296, 4)), "1000");
  EXPECT_EQ(StatusValue(status, "http: " + Label(1296, 5)), "250000");
  EXPECT_EQ(StatusValue(status, "http: " + Label(1296, 6)), "5");
  EXPECT_EQ(StatusValue(status, "ftp: " + Label(1296, 4)), "10");
  EXPECT_EQ(StatusValue(status, Label(1297, 0)), "31");
  EXPECT_EQ(StatusValue(status, Label(1297, 1)), "17");
  EXPECT_EQ(StatusValue(status, Label(1297, 2)), "4");
  EXPECT_EQ(StatusValue(status, Label(1298, 0)), "9");
  EXPECT_EQ(StatusValue(status, Label(1298, 1)), "11");
  EXPECT_EQ(StatusValue(status, Label(1298, 2)), "65536");
}

TEST(FormatStatus, AServiceWithoutPortOrTrafficIsLeftOut) {
  const std::string status = FormatStatus(Example());
  EXPECT_EQ(status.find("smtp"), std::string::npos) << status;
  EXPECT_EQ(status.find("ftp_data"), std::string::npos) << status;
  EXPECT_NE(status.find("socks5: " + Label(1296, 3)), std::string::npos) << "a port alone shows the service";
}

// --- The counters ---------------------------------------------------------------

TEST(ServiceCounters, ManyThreadsLoseNoIncrement) {
  const CounterSnapshot before = TakeCounterSnapshot();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 10000; ++i) {
        CountUp(ServiceCountersOf(kServicePop3).bytesToClients, 3);
        CountUp(Counters().dnsForwarded);
      }
    });
  for (std::thread& t : threads) t.join();
  const CounterSnapshot after = TakeCounterSnapshot();
  EXPECT_EQ(after.services[kServicePop3].bytesToClients - before.services[kServicePop3].bytesToClients, 120000);
  EXPECT_EQ(after.dnsForwarded - before.dnsForwarded, 40000);
}

TEST(ServiceCounters, AServiceOutOfRangeTouchesNoServiceAndHasNoName) {
  const CounterSnapshot before = TakeCounterSnapshot();
  CountUp(ServiceCountersOf(200).accepted, 5);
  EXPECT_EQ(TakeCounterSnapshot(), before);
  EXPECT_EQ(ServiceKey(200), "");
  EXPECT_EQ(ServiceKey(kServiceSocks5), "socks5");
}

TEST(ServiceCounters, MissesAreLookupsThatDidNotEndInAHit) {
  const CounterSnapshot before = TakeCounterSnapshot();
  CountUp(Counters().cacheLookups, 3);
  CountUp(Counters().cacheHits, 1);
  const CounterSnapshot after = TakeCounterSnapshot();
  EXPECT_EQ(after.cacheHits - before.cacheHits, 1);
  EXPECT_EQ(after.cacheMisses - before.cacheMisses, 2);
}

TEST(ServiceCounters, EveryRefusalIsCountedUnderItsServiceOrDns) {
  const CounterSnapshot before = TakeCounterSnapshot();
  ReportAddressRefused(kServiceSmtp, 0x0A000001);
  ReportAddressLimit(kServiceSocks5, 0x0A000002);
  ReportDnsAddressRefused(0x0A000003);
  Refusal refusal;
  refusal.service = kServiceHttp;
  refusal.message = 493;
  ReportRefusal(refusal);
  TakeRefusalLines();
  const CounterSnapshot after = TakeCounterSnapshot();
  EXPECT_EQ(after.services[kServiceSmtp].refused - before.services[kServiceSmtp].refused, 1);
  EXPECT_EQ(after.services[kServiceSocks5].refused - before.services[kServiceSocks5].refused, 1);
  EXPECT_EQ(after.services[kServiceHttp].refused - before.services[kServiceHttp].refused, 1);
  EXPECT_EQ(after.dnsRefused - before.dnsRefused, 1);
}

// --- The collector ----------------------------------------------------------------

class FiguresCollector : public testing::AccountWorld {
 protected:
  void TearDown() override {
    {
      std::lock_guard<std::mutex> lock(AccountsLock());
      for (ConnectionRecord* c : listed_) std::erase(ConnectionListLocked(), c);
    }
    ReplacePortMapRules({});
    AccountWorld::TearDown();
  }
  ConnectionRecord* Listed(ConnectionRecord* c) {
    std::lock_guard<std::mutex> lock(AccountsLock());
    ConnectionListLocked().push_back(c);
    listed_.push_back(c);
    return c;
  }
  std::vector<ConnectionRecord*> listed_;
};

TEST_F(FiguresCollector, CountsRecordsSessionsUptimeAndTheRelayedBytesOfAPiece) {
  const std::int64_t startedAt = clock_.counter;
  UserRecord* bob = AddUser("bob");
  UserRecord* ann = AddUser("ann");
  ConnectionRecord* first = Listed(Connect(bob, "10.0.0.5"));
  Listed(Connect(bob, "10.0.0.5"));
  ConnectionRecord* third = Listed(Connect(ann, "10.0.0.6", kServiceSocks5));
  const GatewayFigures before = CollectGatewayFigures(startedAt);
  CountSent(*first, 300);
  CountReceived(*first, 4000);
  CountReceived(*third, 77);
  clock_.counter += 3661 * kPerformanceFrequency + kPerformanceFrequency / 2;

  const GatewayFigures after = CollectGatewayFigures(startedAt);
  EXPECT_EQ(after.uptimeSeconds, 3661);
  EXPECT_EQ(after.connections - before.connections, 0);
  EXPECT_GE(after.connections, 3);
  EXPECT_EQ(after.usersOnline, 2) << "two users, one session each";
  const auto& http = after.counters.services[kServiceHttp];
  const auto& httpBefore = before.counters.services[kServiceHttp];
  EXPECT_EQ(http.bytesFromClients - httpBefore.bytesFromClients, 300);
  EXPECT_EQ(http.bytesToClients - httpBefore.bytesToClients, 4000);
  EXPECT_EQ(after.counters.services[kServiceSocks5].bytesToClients -
                before.counters.services[kServiceSocks5].bytesToClients,
            77);
}

TEST_F(FiguresCollector, APortMappingRuleIsListedWithWhetherItHoldsASocket) {
  PortMapRule on;
  on.name = "Mail in";
  on.listenPort = 2525;
  PortMapRule off = on;
  off.name = "Old";
  off.listenPort = 2626;
  off.disabled = true;
  PortMapRule udp = on;
  udp.name = "Names";
  udp.protocol = kPortMapUdp;
  udp.listenPort = 5353;
  ReplacePortMapRules({on, off, udp});
  const GatewayFigures figures = CollectGatewayFigures(clock_.counter);
  std::vector<ServicePortFigure> rules;
  std::copy_if(figures.ports.begin(), figures.ports.end(), std::back_inserter(rules),
               [](const ServicePortFigure& p) { return !p.rule.empty(); });
  ASSERT_EQ(rules.size(), 2u) << "a rule switched off asks for no port";
  EXPECT_EQ(rules[0], (ServicePortFigure{kServicePortMapTcp, "Mail in", 2525, false}));
  EXPECT_EQ(rules[1], (ServicePortFigure{kServicePortMapUdp, "Names", 5353, false}));
}

}  // namespace
}  // namespace brindlex
