// The DNS forwarder on port 53, asked by dig and by a socket of the test,
// with upstream servers (tests/integration/dns_upstream.py) in a second
// network namespace behind a veth pair. Everything runs in namespaces the
// test creates: the gateway and the clients in one (10.53.0.1 on the veth),
// the upstream servers and a forger in the other (10.53.0.2, .3 and .9).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/harness.h"
#include "tests/integration/origin.h"
#include "tests/unit/dns_wire.h"

namespace brindlex::testing {
namespace {

const std::string kOpenLine = "Открытие сокета 'DNS', порт=53; - Ok";
const std::string kServers = "DnsServer=10.53.0.2; 10.53.0.3\r\n";

// The network namespace of a process ("self" or a pid) as the kernel names it.
std::string NetworkNamespaceOf(const std::string& process) {
  char target[128] = {};
  ssize_t n = ::readlink(("/proc/" + process + "/ns/net").c_str(), target, sizeof(target) - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "";
}

// The upstream servers' process and what they were asked.
class Upstream {
 public:
  explicit Upstream(const std::string& folder) : log_(folder + "/upstream.log") {
    int rc = 0;
    RunProgram("ip link add a0 type veth peer name b0 && ip addr add 10.53.0.1/24 dev a0 && ip link set a0 up", &rc);
    if (rc != 0) return;
    std::string pid = RunProgram("unshare --net python3 " + std::string(BRINDLEX_SOURCE_DIR) +
                                 "/tests/integration/dns_upstream.py " + log_ + " > " + log_ + ".out 2>&1 & echo $!");
    pid_ = std::atoi(pid.c_str());
    if (pid_ <= 0) return;
    // The veth end goes to the namespace the process is in when it is
    // moved: wait until unshare has made the new one.
    const std::string own = NetworkNamespaceOf("self");
    for (int i = 0; i < 200 && NetworkNamespaceOf(std::to_string(pid_)) == own; ++i) std::this_thread::sleep_for(10ms);
    RunProgram("ip link set b0 netns " + std::to_string(pid_), &rc);
    if (rc != 0) return;
    for (int i = 0; i < 200 && !ready_; ++i) {
      ready_ = ReadFile(log_).find("ready\n") != std::string::npos;
      if (!ready_) std::this_thread::sleep_for(50ms);
    }
  }
  ~Upstream() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
  }
  bool ready() const { return ready_; }
  std::string Failure() const { return "upstream did not start: " + ReadFile(log_ + ".out"); }
  // "server id type name" of every query received for the name (for any
  // name when it is empty).
  std::vector<std::string> QueriesFor(const std::string& name) const {
    std::vector<std::string> found;
    std::istringstream lines(ReadFile(log_));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("QUERY ", 0) != 0) continue;
      std::string fields = line.substr(6);
      if (name.empty() || (fields.size() > name.size() && fields.substr(fields.size() - name.size() - 1) == " " + name))
        found.push_back(fields);
    }
    return found;
  }
  std::vector<std::string> AllQueries() const { return QueriesFor(""); }
  std::string Log() const { return ReadFile(log_); }
  // Runs a command in the upstream servers' namespace.
  std::string InTheirNetwork(const std::string& command) const {
    return RunProgram("nsenter --net=/proc/" + std::to_string(pid_) + "/ns/net " + command);
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// The answer section of dig's output (one record a line, blanks single), the
// status and the flags, on one line: "status | flags | record; record".
std::string Dig(const std::string& arguments, const Upstream* fromUpstream = nullptr,
                const std::string& server = "127.0.0.1") {
  std::string command = "dig +tries=1 +time=3 +nocookie @" + server + " " + arguments;
  std::string output = fromUpstream ? fromUpstream->InTheirNetwork(command) : RunProgram(command);
  std::string status = "no answer", flags, records;
  std::istringstream lines(output);
  bool inAnswer = false;
  for (std::string line; std::getline(lines, line);) {
    std::size_t at = line.find("status: ");
    if (at != std::string::npos) status = line.substr(at + 8, line.find(',', at) - at - 8);
    if (line.rfind(";; flags: ", 0) == 0) flags = line.substr(10, line.find(';', 10) - 10);
    if (line == ";; ANSWER SECTION:") {
      inAnswer = true;
      continue;
    }
    if (inAnswer && line.empty()) inAnswer = false;
    if (!inAnswer) continue;
    std::istringstream words(line);
    std::string record;
    for (std::string word; words >> word;) record += (record.empty() ? "" : " ") + word;
    records += (records.empty() ? "" : "; ") + record;
  }
  return status + " | " + flags + " | " + records;
}

// The number of answer records in a Dig result.
std::size_t Records(const std::string& dig) {
  std::size_t at = dig.rfind(" | ");
  if (at == std::string::npos || at + 3 == dig.size()) return 0;
  return std::count(dig.begin() + static_cast<std::ptrdiff_t>(at), dig.end(), ';') + 1;
}

struct DnsWorld {
  explicit DnsWorld(const std::string& systemLines, const std::string& hosts = "",
                    const std::string& serverLine = kServers)
      : servers(serverLine), gateway("EnableDns=1\r\n" + servers + systemLines), upstream(gateway.home) {
    if (!hosts.empty()) WriteFile(gateway.home + "/hosts", hosts);
  }
  std::string Failure() {
    if (!gateway.started) return "child failed: gateway did not start: " + gateway.process->Output();
    if (!upstream.ready()) return "child failed: " + upstream.Failure();
    if (!gateway.process->WaitForOutput(kOpenLine)) return "child failed: no DNS socket: " + gateway.process->Output();
    return "";
  }
  // Rewrites the settings and has the gateway read them (SIGHUP).
  bool Reload(const std::string& systemLines) {
    WriteFile(gateway.home + "/Brindlex.ini",
              "[System]\r\nHttpPort=" + std::to_string(gateway.port) + "\r\nEnableDns=1\r\n" + servers + systemLines);
    ++reloads;
    gateway.process->Signal(SIGHUP);
    std::string line = "Файл настроек перечитан";
    for (int i = 0; i < 100; ++i) {
      std::string output = gateway.process->Output();
      std::size_t count = 0;
      for (std::size_t at = output.find(line); at != std::string::npos; at = output.find(line, at + 1)) ++count;
      if (count >= reloads) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  std::string servers;
  ProxyGateway gateway;
  Upstream upstream;
  std::size_t reloads = 0;
};

// The lines of a result: "key<TAB>value".
using Results = std::map<std::string, std::string>;

std::string Line(const std::string& key, const std::string& value) { return key + "\t" + value + "\n"; }

Results Parse(const std::string& text) {
  Results results;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::size_t tab = line.find('\t');
    if (tab != std::string::npos) results[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return results;
}

std::string Count(std::size_t n) { return std::to_string(n); }

bool Has(const std::string& output, const std::string& text) { return output.find(text) != std::string::npos; }

// The forward IDs of the queries upstream, in order.
std::vector<int> ForwardIds(const std::vector<std::string>& queries) {
  std::vector<int> ids;
  for (const std::string& query : queries) {
    std::istringstream fields(query);
    std::string server;
    int id = 0;
    fields >> server >> id;
    ids.push_back(id);
  }
  return ids;
}

std::string ForwardingAndCaching() {
  DnsWorld world("EnableCachDns=1\r\n");
  std::string failure = world.Failure();
  if (!failure.empty()) return failure;
  const Upstream& up = world.upstream;
  std::string out;
  out += Line("first", Dig("www.example.test"));
  std::this_thread::sleep_for(1500ms);
  out += Line("cached", Dig("www.example.test"));
  out += Line("www upstream", Count(up.QueriesFor("www.example.test").size()));
  out += Line("reverse", Dig("-x 192.0.2.1"));
  out += Line("reverse upstream", Count(up.QueriesFor("1.2.0.192.in-addr.arpa").size()));
  Dig("short.example.test");
  std::this_thread::sleep_for(3s);
  out += Line("short again", Dig("short.example.test"));
  out += Line("short upstream", Count(up.QueriesFor("short.example.test").size()));
  out += Line("zero", Dig("zero.example.test"));
  out += Line("zero again", Dig("zero.example.test"));
  out += Line("zero upstream", Count(up.QueriesFor("zero.example.test").size()));
  out += Line("alias", Dig("alias.example.test"));
  out += Line("cdn", Dig("cdn.example.test"));
  out += Line("cdn upstream", Count(up.QueriesFor("cdn.example.test").size()));
  out += Line("victim", Dig("victim.example.test"));
  Dig("alias.example.test");
  out += Line("alias upstream", Count(up.QueriesFor("alias.example.test").size()));
  out += Line("big", Count(Records(Dig("big.example.test"))));
  out += Line("big cached", Count(Records(Dig("big.example.test"))));
  out += Line("big upstream", Count(up.QueriesFor("big.example.test").size()));
  for (int i = 0; i < 10; ++i) Dig("n" + std::to_string(i) + ".example.test");
  int steps = 0;
  std::vector<int> ids = ForwardIds(up.AllQueries());
  for (std::size_t i = 1; i < ids.size(); ++i) steps += ids[i] == ((ids[i - 1] + 1) & 0xFFFF);
  out += Line("forwards", Count(ids.size()));
  out += Line("sequential steps", Count(steps));
  std::string monitor = world.gateway.process->Output();
  out +=
      Line("quest line", Count(Has(monitor, "DNS_QUEST, from 127.0.0.1, 'A'-www.example.test, forvard to 10.53.0.2")));
  out += Line("answer line", Count(Has(monitor, "DNS_ANSWER, from 10.53.0.2, 'A'-www.example.test = 192.0.2.1; ")));
  out += Line("cache line",
              Count(Has(monitor, "DNS_QUEST, from 127.0.0.1, 'A'-www.example.test, answer from cache: 192.0.2.1; ")));
  out += Line("exit", std::to_string(world.gateway.process->Stop()));
  return out;
}

TEST(DnsForwarder, ForwardsRelaysAndAnswersFromItsCacheWithinTheTtl) {
  std::string text = RunInOwnNetwork(ForwardingAndCaching);
  ASSERT_FALSE(Has(text, "child failed")) << text;
  Results r = Parse(text);
  EXPECT_EQ(r["first"], "NOERROR | qr rd ra | www.example.test. 300 IN A 192.0.2.1") << text;
  // 1.5 s later: one whole second has passed (two if the test was slow).
  EXPECT_TRUE(r["cached"] == "NOERROR | qr rd ra | www.example.test. 299 IN A 192.0.2.1" ||
              r["cached"] == "NOERROR | qr rd ra | www.example.test. 298 IN A 192.0.2.1")
      << text;
  EXPECT_EQ(r["www upstream"], "1") << text;
  EXPECT_EQ(r["reverse"].substr(0, 24), "NOERROR | qr rd ra | 1.2") << text;
  EXPECT_TRUE(Has(r["reverse"], " IN PTR www.example.test.")) << text;
  EXPECT_EQ(r["reverse upstream"], "0") << text;
  // TTL 2 has run out after 3 s: asked upstream again.
  EXPECT_EQ(r["short again"], "NOERROR | qr rd ra | short.example.test. 2 IN A 192.0.2.2") << text;
  EXPECT_EQ(r["short upstream"], "2") << text;
  // TTL 0: relayed every time, never cached.
  EXPECT_EQ(r["zero"], "NOERROR | qr rd ra | zero.example.test. 0 IN A 192.0.2.30") << text;
  EXPECT_EQ(r["zero again"], r["zero"]) << text;
  EXPECT_EQ(r["zero upstream"], "2") << text;
  // The CNAME answer is relayed as it came, with the address off the chain,
  // but only the chain's address is cached: the alias itself and the name
  // off the chain are asked upstream again.
  EXPECT_EQ(r["alias"],
            "NOERROR | qr rd ra | alias.example.test. 300 IN CNAME cdn.example.test.; cdn.example.test. 300 IN A "
            "192.0.2.20; victim.example.test. 300 IN A 6.6.6.6")
      << text;
  EXPECT_TRUE(Has(r["cdn"], "cdn.example.test. ")) << text;
  EXPECT_TRUE(Has(r["cdn"], " IN A 192.0.2.20")) << text;
  EXPECT_EQ(r["cdn upstream"], "0") << text;
  EXPECT_EQ(r["victim"], "NOERROR | qr rd ra | victim.example.test. 300 IN A 192.0.2.99") << text;
  EXPECT_EQ(r["alias upstream"], "2") << text;
  // An upstream answer longer than 512 bytes reaches the client whole; the
  // gateway's own answer from the cache keeps to 512 bytes: (512 - 34) / 16
  // address records after the header and question.
  EXPECT_EQ(r["big"], "40") << text;
  EXPECT_EQ(r["big cached"], "29") << text;
  EXPECT_EQ(r["big upstream"], "1") << text;
  // Forward IDs are random, not a counter.
  EXPECT_GE(std::atoi(r["forwards"].c_str()), 16) << text;
  EXPECT_LT(std::atoi(r["sequential steps"].c_str()), 3) << text;
  EXPECT_EQ(r["quest line"], "1") << text;
  EXPECT_EQ(r["answer line"], "1") << text;
  EXPECT_EQ(r["cache line"], "1") << text;
  EXPECT_EQ(r["exit"], "0") << text;
}

std::string Spoofing() {
  DnsWorld world("EnableCachDns=1\r\n");
  std::string failure = world.Failure();
  if (!failure.empty()) return failure;
  std::string out;
  out += Line("first", Dig("spoof.example.test"));
  out += Line("again", Dig("spoof.example.test"));
  out += Line("upstream", Count(world.upstream.QueriesFor("spoof.example.test").size()));
  std::string monitor = world.gateway.process->Output();
  out +=
      Line("dropped line",
           Count(Has(monitor, "DNS_ANSWER, from 10.53.0.9, 'A'-spoof.example.test = dropped: no query waits for it")));
  out += Line("exit", std::to_string(world.gateway.process->Stop()));
  return out;
}

TEST(DnsForwarder, AForgedAnswerWithTheRightIdFromAnotherAddressIsNeitherRelayedNorCached) {
  std::string text = RunInOwnNetwork(Spoofing);
  ASSERT_FALSE(Has(text, "child failed")) << text;
  Results r = Parse(text);
  // The forger's 6.6.6.6 came first; the client got the server's answer.
  EXPECT_EQ(r["first"], "NOERROR | qr rd ra | spoof.example.test. 300 IN A 192.0.2.50") << text;
  EXPECT_TRUE(Has(r["again"], " IN A 192.0.2.50")) << text;
  EXPECT_FALSE(Has(r["again"], "6.6.6.6")) << text;
  EXPECT_EQ(r["upstream"], "1") << text;
  EXPECT_EQ(r["dropped line"], "1") << text;
  EXPECT_EQ(r["exit"], "0") << text;
}

// A client socket on a loopback address (127.0.0.1 unless said) that sends
// raw queries to the gateway.
class RawClient {
 public:
  explicit RawClient(std::uint32_t from = INADDR_LOOPBACK) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = htonl(from);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&own), sizeof(own));
  }
  ~RawClient() { ::close(fd_); }
  void Send(const std::string& bytes) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(53);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof(target));
  }

 private:
  int fd_;
};

std::string RepetitionsAndAFullTable() {
  DnsWorld world("");
  std::string failure = world.Failure();
  if (!failure.empty()) return failure;
  const Upstream& up = world.upstream;
  std::string out;
  RawClient client;
  for (int i = 0; i < 3; ++i) {
    client.Send(dnswire::Query(0x5151, "rep.silent.example.test"));
    for (int wait = 0; wait < 100 && up.QueriesFor("rep.silent.example.test").size() <= std::size_t(i); ++wait)
      std::this_thread::sleep_for(20ms);
  }
  std::string servers;
  std::vector<std::string> repetitions = up.QueriesFor("rep.silent.example.test");
  for (const std::string& query : repetitions) servers += query.substr(0, query.find(' ')) + " ";
  out += Line("servers", servers);
  std::vector<int> ids = ForwardIds(repetitions);
  out += Line("one id", Count(ids.size() == 3 && ids[0] == ids[1] && ids[1] == ids[2]));
  // 99 more distinct queries fill the table, from four clients with 25
  // each (as many as one client may hold); the next, from a fifth, is
  // dropped.
  std::vector<std::unique_ptr<RawClient>> others;
  for (std::uint32_t n = 2; n <= 5; ++n) others.push_back(std::make_unique<RawClient>(INADDR_LOOPBACK - 1 + n));
  for (int i = 0; i < 100; ++i) {
    RawClient& from = (i + 1) / 25 == 0 ? client : *others[static_cast<std::size_t>((i + 1) / 25 - 1)];
    from.Send(dnswire::Query(static_cast<std::uint16_t>(i), "q" + std::to_string(i) + ".silent.example.test"));
  }
  for (int wait = 0; wait < 250 && up.QueriesFor("q98.silent.example.test").empty(); ++wait)
    std::this_thread::sleep_for(20ms);
  std::this_thread::sleep_for(300ms);
  out += Line("q98 upstream", Count(up.QueriesFor("q98.silent.example.test").size()));
  out += Line("q99 upstream", Count(up.QueriesFor("q99.silent.example.test").size()));
  out += Line("dropped line", Count(Has(world.gateway.process->Output(),
                                        "DNS_QUEST, from 127.0.0.5, 'A'-q99.silent.example.test, dropped: too many "
                                        "queries waiting")));
  out += Line("exit", std::to_string(world.gateway.process->Stop()));
  return out;
}

TEST(DnsForwarder, RepetitionsMoveThroughTheServersWithOneIdAndTheHundredAndFirstQueryIsDropped) {
  std::string text = RunInOwnNetwork(RepetitionsAndAFullTable);
  ASSERT_FALSE(Has(text, "child failed")) << text;
  Results r = Parse(text);
  EXPECT_EQ(r["servers"], "10.53.0.2 10.53.0.3 10.53.0.2 ") << text;
  EXPECT_EQ(r["one id"], "1") << text;
  EXPECT_EQ(r["q98 upstream"], "1") << text;
  EXPECT_EQ(r["q99 upstream"], "0") << text;
  EXPECT_EQ(r["dropped line"], "1") << text;
  EXPECT_EQ(r["exit"], "0") << text;
}

std::string HostsAndWpad() {
  DnsWorld world("EnableHostsDns=1\r\nDomainSuffix=office\r\n", "# office\n192.168.0.10 fileserver files\n");
  std::string failure = world.Failure();
  if (!failure.empty()) return failure;
  world.Reload("EnableHostsDns=1\r\nDomainSuffix=office\r\nHostsFileName=" + world.gateway.home + "/hosts\r\n");
  std::string out;
  out += Line("short", Dig("fileserver"));
  out += Line("long", Dig("FileServer.office"));
  out += Line("reverse", Dig("-x 192.168.0.10"));
  out += Line("wpad here", Dig("wpad"));
  out += Line("wpad there", Dig("wpad.office", &world.upstream, "10.53.0.1"));
  out += Line("upstream", Count(world.upstream.AllQueries().size()));
  out += Line("exit", std::to_string(world.gateway.process->Stop()));
  return out;
}

TEST(DnsForwarder, HostsNamesWithAndWithoutTheSuffixAndWpadAreAnsweredByTheGateway) {
  std::string text = RunInOwnNetwork(HostsAndWpad);
  ASSERT_FALSE(Has(text, "child failed")) << text;
  Results r = Parse(text);
  EXPECT_EQ(r["short"], "NOERROR | qr aa rd ra | fileserver. 0 IN A 192.168.0.10") << text;
  EXPECT_EQ(r["long"], "NOERROR | qr aa rd ra | FileServer.office. 0 IN A 192.168.0.10") << text;
  EXPECT_EQ(r["reverse"], "NOERROR | qr aa rd ra | 10.0.168.192.in-addr.arpa. 0 IN PTR fileserver.office.") << text;
  // Each client gets the address by which it reaches the gateway.
  EXPECT_EQ(r["wpad here"], "NOERROR | qr aa rd ra | wpad. 0 IN A 127.0.0.1") << text;
  EXPECT_EQ(r["wpad there"], "NOERROR | qr aa rd ra | wpad.office. 0 IN A 10.53.0.1") << text;
  EXPECT_EQ(r["upstream"], "0") << text;
  EXPECT_EQ(r["exit"], "0") << text;
}

std::string SwitchingOff() {
  DnsWorld world("EnableCachDns=1\r\n");
  std::string failure = world.Failure();
  if (!failure.empty()) return failure;
  std::string out;
  Dig("www.example.test");
  if (!world.Reload("EnableCachDns=0\r\nEnableWpadDns=0\r\n")) return "child failed: no reload";
  out += Line("wpad off", Dig("wpad"));
  out += Line("wpad upstream", Count(world.upstream.QueriesFor("wpad").size()));
  // An idle pause of more than two seconds with the cache off empties it.
  std::this_thread::sleep_for(2500ms);
  if (!world.Reload("EnableCachDns=1\r\n")) return "child failed: no reload";
  out += Line("www", Dig("www.example.test"));
  out += Line("www upstream", Count(world.upstream.QueriesFor("www.example.test").size()));
  out += Line("exit", std::to_string(world.gateway.process->Stop()));
  return out;
}

TEST(DnsForwarder, TurningTheCacheOffEmptiesItAtTheNextIdlePauseAndWpadHasItsSwitch) {
  std::string text = RunInOwnNetwork(SwitchingOff);
  ASSERT_FALSE(Has(text, "child failed")) << text;
  Results r = Parse(text);
  EXPECT_EQ(r["wpad off"], "NXDOMAIN | qr rd ra | ") << text;
  EXPECT_EQ(r["wpad upstream"], "1") << text;
  EXPECT_EQ(r["www"], "NOERROR | qr rd ra | www.example.test. 300 IN A 192.0.2.1") << text;
  EXPECT_EQ(r["www upstream"], "2") << text;
  EXPECT_EQ(r["exit"], "0") << text;
}

// How often the text stands in the output.
std::size_t Occurrences(const std::string& output, const std::string& text) {
  std::size_t count = 0;
  for (std::size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++count;
  return count;
}

std::string OutsideClients() {
  DnsWorld world("UsersAddrs=127.0.0.1\r\n");
  std::string failure = world.Failure();
  if (!failure.empty()) return failure;
  std::string out;
  // Neither a forwarded name nor one the gateway answers itself.
  out += Line("outside", Dig("+time=1 -b 127.0.0.2 www.example.test"));
  out += Line("outside wpad", Dig("+time=1 -b 127.0.0.2 wpad"));
  out += Line("outside txt", Dig("+time=1 -b 127.0.0.2 -t TXT www.example.test"));
  out += Line("inside", Dig("www.example.test"));
  out += Line("upstream", Count(world.upstream.QueriesFor("www.example.test").size()));
  // The refusals go to the monitor with the main timer, once a second.
  world.gateway.process->WaitForOutput("REFUSED, 127.0.0.2, ", 3s);
  std::this_thread::sleep_for(1500ms);
  out += Line("refused lines", Count(Occurrences(world.gateway.process->Output(), "REFUSED, 127.0.0.2, , 0, ")));
  // InInterface: only queries that came to 10.53.0.1 are admitted.
  if (!world.Reload("InInterface=10.53.0.1\r\n")) return "child failed: no reload";
  out += Line("wrong interface", Dig("+time=1 wpad"));
  out += Line("right interface", Dig("wpad", &world.upstream, "10.53.0.1"));
  out += Line("exit", std::to_string(world.gateway.process->Stop()));
  return out;
}

TEST(DnsForwarder, QueriesFromAddressesNotAdmittedGetNoAnswerAndOneRefusedLine) {
  std::string text = RunInOwnNetwork(OutsideClients);
  ASSERT_FALSE(Has(text, "child failed")) << text;
  Results r = Parse(text);
  EXPECT_EQ(r["outside"], "no answer |  | ") << text;
  EXPECT_EQ(r["outside wpad"], "no answer |  | ") << text;
  EXPECT_EQ(r["outside txt"], "no answer |  | ") << text;
  EXPECT_EQ(r["inside"], "NOERROR | qr rd ra | www.example.test. 300 IN A 192.0.2.1") << text;
  EXPECT_EQ(r["upstream"], "1") << "the refused query was not forwarded\n" << text;
  EXPECT_EQ(r["refused lines"], "1") << text;
  EXPECT_EQ(r["wrong interface"], "no answer |  | ") << text;
  EXPECT_EQ(r["right interface"], "NOERROR | qr aa rd ra | wpad. 0 IN A 10.53.0.1") << text;
  EXPECT_EQ(r["exit"], "0") << text;
}

// Sends a query to 127.0.0.1:53 from 127.0.0.1 port 0, which no UDP socket
// can do: the IP and UDP headers are written here (the kernel fills in the
// IP checksum; a UDP checksum of 0 means none).
bool SendFromPortZero(const std::string& query) {
  int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
  if (fd < 0) return false;
  std::string packet(sizeof(iphdr) + sizeof(udphdr), '\0');
  auto* ip = reinterpret_cast<iphdr*>(packet.data());
  ip->version = 4;
  ip->ihl = 5;
  ip->ttl = 64;
  ip->protocol = IPPROTO_UDP;
  ip->tot_len = htons(static_cast<std::uint16_t>(packet.size() + query.size()));
  ip->saddr = htonl(INADDR_LOOPBACK);
  ip->daddr = htonl(INADDR_LOOPBACK);
  auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
  udp->source = 0;
  udp->dest = htons(53);
  udp->len = htons(static_cast<std::uint16_t>(sizeof(udphdr) + query.size()));
  packet += query;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ssize_t n = ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof(target));
  ::close(fd);
  return n == static_cast<ssize_t>(packet.size());
}

std::string PortZero() {
  DnsWorld world("");
  std::string failure = world.Failure();
  if (!failure.empty()) return failure;
  std::string out;
  // wpad is answered at once, so the reply to port 0 fails at once.
  out += Line("sent", Count(SendFromPortZero(dnswire::Query(0x4444, "wpad"))));
  if (!world.gateway.process->WaitForOutput("Ошибка передачи DNS answer!", 3s)) return "child failed: no send failure";
  out += Line("next", Dig("+time=1 wpad"));
  out += Line("forwarded", Dig("+time=1 www.example.test"));
  std::string monitor = world.gateway.process->Output();
  out += Line("open lines", Count(Occurrences(monitor, kOpenLine)));
  out += Line("exit", std::to_string(world.gateway.process->Stop()));
  return out;
}

TEST(DnsForwarder, AReplyThatCannotBeSentToPortZeroCostsOnlyThatDatagram) {
  std::string text = RunInOwnNetwork(PortZero);
  ASSERT_FALSE(Has(text, "child failed")) << text;
  Results r = Parse(text);
  EXPECT_EQ(r["sent"], "1") << text;
  EXPECT_EQ(r["next"], "NOERROR | qr aa rd ra | wpad. 0 IN A 127.0.0.1") << text;
  EXPECT_EQ(r["forwarded"], "NOERROR | qr rd ra | www.example.test. 300 IN A 192.0.2.1") << text;
  EXPECT_EQ(r["open lines"], "1") << "the socket stayed open\n" << text;
  EXPECT_EQ(r["exit"], "0") << text;
}

// A dig that waits one second for its answer and does not ask again.
std::string QuickDig(const std::string& arguments) { return Dig("+time=1 " + arguments); }

std::string NoUpstreamServer() {
  DnsWorld world("", "192.168.0.10 fileserver\n", "DnsServer=\r\n");
  std::string failure = world.Failure();
  if (!failure.empty()) return failure;
  const std::string hosts = "EnableHostsDns=1\r\nHostsFileName=" + world.gateway.home + "/hosts\r\n";
  if (!world.Reload(hosts)) return "child failed: no reload";
  std::string out;
  out += Line("other", QuickDig("www.example.test"));
  out += Line("hosts", QuickDig("fileserver"));
  // Servers that are the gateway itself are left out.
  world.servers = "DnsServer=127.0.0.1; 10.53.0.1; 0.0.0.0\r\n";
  if (!world.Reload(hosts)) return "child failed: no reload";
  out += Line("own other", QuickDig("www.example.test"));
  out += Line("own hosts", QuickDig("fileserver"));
  world.servers = "DnsServer=127.0.0.1; 10.53.0.3\r\n";
  if (!world.Reload(hosts)) return "child failed: no reload";
  out += Line("after own", QuickDig("www.example.test"));
  out += Line("upstream", Count(world.upstream.QueriesFor("www.example.test").size()));
  out += Line("exit", std::to_string(world.gateway.process->Stop()));
  return out;
}

TEST(DnsForwarder, WithoutAnUpstreamServerLocalNamesAreAnsweredAndOthersGetServfailAtOnce) {
  std::string text = RunInOwnNetwork(NoUpstreamServer);
  ASSERT_FALSE(Has(text, "child failed")) << text;
  Results r = Parse(text);
  EXPECT_EQ(r["other"], "SERVFAIL | qr rd ra | ") << text;
  EXPECT_EQ(r["hosts"], "NOERROR | qr aa rd ra | fileserver. 0 IN A 192.168.0.10") << text;
  EXPECT_EQ(r["own other"], "SERVFAIL | qr rd ra | ") << text;
  EXPECT_EQ(r["own hosts"], r["hosts"]) << text;
  EXPECT_EQ(r["after own"], "NOERROR | qr rd ra | www.example.test. 300 IN A 192.0.2.1") << text;
  EXPECT_EQ(r["upstream"], "1") << text;
  EXPECT_EQ(r["exit"], "0") << text;
}

std::string Flood() {
  DnsWorld world("");
  std::string failure = world.Failure();
  if (!failure.empty()) return failure;
  const Upstream& up = world.upstream;
  RawClient flooder;
  for (int i = 0; i < 200; ++i)
    flooder.Send(dnswire::Query(static_cast<std::uint16_t>(i), "f" + std::to_string(i) + ".silent.example.test"));
  // The forwarder has taken them all when a query sent after them is
  // handled: the flooder's own, dropped, shows in the monitor.
  flooder.Send(dnswire::Query(999, "last.silent.example.test"));
  world.gateway.process->WaitForOutput("'A'-last.silent.example.test, dropped", 5s);
  std::string out;
  out += Line("second client", Dig("-b 127.0.0.2 www.example.test"));
  std::size_t silent = 0;
  for (const std::string& query : up.AllQueries()) silent += Has(query, ".silent.example.test");
  out += Line("flood forwarded", Count(silent));
  out += Line("exit", std::to_string(world.gateway.process->Stop()));
  return out;
}

TEST(DnsForwarder, OneClientFloodingUnansweredQueriesDoesNotKeepAnotherFromBeingAnswered) {
  std::string text = RunInOwnNetwork(Flood);
  ASSERT_FALSE(Has(text, "child failed")) << text;
  Results r = Parse(text);
  EXPECT_EQ(r["second client"], "NOERROR | qr rd ra | www.example.test. 300 IN A 192.0.2.1") << text;
  EXPECT_EQ(r["flood forwarded"], "25") << text;
  EXPECT_EQ(r["exit"], "0") << text;
}

TEST(DnsForwarderCheck, ADnsServerThatIsTheGatewayItselfIsNamed) {
  std::string home = MakeProgramFolder("[System]\r\nDnsServer=127.0.0.1; 192.0.2.53; name.example\r\n");
  int rc = -1;
  std::string out = RunProgram("BRINDLEX_HOME='" + home + "' '" + BRINDLEX_BINARY + "' --check 2>&1", &rc);
  RemoveFolder(home);
  EXPECT_EQ(rc, 1) << out;
  EXPECT_TRUE(Has(out, "Brindlex.ini:2: [System] DnsServer: '127.0.0.1' - адрес самого шлюза")) << out;
  EXPECT_TRUE(Has(out, "Brindlex.ini:2: [System] DnsServer: запись 'name.example' не понята")) << out;
  EXPECT_FALSE(Has(out, "192.0.2.53")) << out;
}

}  // namespace
}  // namespace brindlex::testing
