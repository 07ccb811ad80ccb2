// Refusals on the monitor. Every request the gateway turns away (the login
// challenge, a refused destination, an exhausted limit, a filter hit) gives
// one line with the client's address, the login if any, the number of the
// message the client was answered with, and the URL:
//   "REFUSED, 192.168.0.7, bob, 493, http://example.com/"
// A client that keeps failing to log in (a wrong password saved in a
// browser, someone guessing) would bury every other line, so failed logins
// are counted per client address: the first of a minute gets its line, the
// rest of that minute only one summary line when the minute is over.
//
// Workers report from any thread; the main timer takes the lines once a
// second and passes them to the monitor. Times are program-clock counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/value_codec.h"

namespace brindlex {

struct Refusal {
  std::uint8_t service = 0;
  Ipv4 client = kNoAddress;
  std::string login;  // the user's, or the one a failed login tried; may be empty
  std::string url;
  int message = 0;
  bool failedLogin = false;  // answered with the login challenge
  // Closed at accept: the address is not one UsersAddrs or InInterface
  // admits (no message, no URL).
  bool addressRefused = false;
  // Closed at accept: the address already holds MaxConnectionsPerAddress
  // records (message kAddressLimitMessage, no URL).
  bool addressLimit = false;
  // A DNS query, not a connection: its line goes with the DNS switch.
  bool dns = false;
  // An administration console turned away (a wrong password, a local user
  // not allowed): shown whatever the switches say, with login and URL
  // "admin".
  bool admin = false;
};

// The message number of a connection closed because its address holds too
// many records.
inline constexpr int kAddressLimitMessage = 499;

// The line of a refusal (any thread).
std::string RefusalLine(const Refusal& refusal);

// The refusals that come again and again from one address (failed logins;
// connections from an address that is not admitted, a machine set up with
// the gateway as its proxy but left out of UsersAddrs; connections beyond an
// address's share of the records, a flood from one machine) get one line a
// minute per address and kind, and one summary line when the minute is over.
enum class RepeatedRefusal : std::uint8_t { kFailedLogin, kAddressRefused, kAddressLimit };

class RefusalLimiter {
 public:
  static constexpr std::int64_t kMinute = 60 * kPerformanceFrequency;
  // A refusal of `kind` from `client` at `now`: adds `line` to `out` when it
  // is the first of its address's minute, else only counts it. A minute that
  // ended before `now` is summed up in `out` first.
  void Refused(RepeatedRefusal kind, Ipv4 client, std::int64_t now, const std::string& line,
               std::vector<std::string>& out);
  // Adds the summary of every minute that has ended by `now` to `out` (only
  // a minute with more failures than its first line showed gets one).
  void Expire(std::int64_t now, std::vector<std::string>& out);
  // A flood from forged source addresses (a datagram's sender is whatever
  // it says) must not grow the table without end: past kMaxAddresses
  // addresses in their minute, a refusal of a new address is only counted.
  // Returns that count since the last call.
  std::int64_t TakeUntracked();
  static constexpr std::size_t kMaxAddresses = 4096;

 private:
  struct Minute {
    std::int64_t start = 0;
    int failures = 0;
  };
  std::map<std::pair<RepeatedRefusal, Ipv4>, Minute> minutes_;
  std::int64_t untracked_ = 0;
};

// Queues a refusal for the monitor (any thread). Lines of a service whose
// monitor switch is off are dropped when taken. A flood that outruns the
// once-a-second take (a main thread held up, thousands of requests a second)
// stops queueing at kMaxQueuedRefusals; the take then says how many were left
// out instead of letting the queue grow.
inline constexpr std::size_t kMaxQueuedRefusals = 10000;
void ReportRefusal(Refusal refusal);
// A client closed at accept because its address is not admitted.
void ReportAddressRefused(std::uint8_t service, Ipv4 client);
// A client closed at accept because its address holds too many records.
void ReportAddressLimit(std::uint8_t service, Ipv4 client);
// A DNS query left unanswered because its address is not admitted.
void ReportDnsAddressRefused(Ipv4 client);
// An administration console refused at login; `who` names the local user
// when there is one, else it is "admin".
void ReportAdminRefused(Ipv4 client, std::string who = "admin");

// Main thread: the lines of the refusals queued since the last call, then
// the failed-login summaries due at the program clock's present count.
// `switches`, when given, gets the monitor switch of each line: that of the
// refusal's service, kMonitorAlways for a console's refusal and a summary.
std::vector<std::string> TakeRefusalLines(std::vector<int>* switches = nullptr);

}  // namespace brindlex
