// The console's one way into the engine: snapshots of what the views show and
// the commands the administrator gives. Views and widgets see only these
// records, never the engine's own tables, so that a console in another
// process can implement the same interface over a socket.
//
// Thread rules: every member is called on the console's (main) thread. A
// snapshot is a copy: it stays valid however the engine changes afterwards.
// Records are named by stable numbers (a user's place in the user table, a
// group's number) or by opaque handles that the engine checks before it acts,
// so a command on a record that has gone in the meantime does nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/access_rules.h"
#include "core/counters.h"
#include "core/display_forms.h"
#include "core/filter_text.h"
#include "core/groups.h"
#include "core/monitor.h"
#include "core/port_map_rules.h"
#include "core/schedule.h"
#include "core/subscriptions.h"
#include "core/ticket.h"
#include "core/value_codec.h"
#include "dialup/remote_access.h"
#include "mail/mail_rules.h"
#include "portmap/port_map_editor.h"
#include "stats/statistics.h"

namespace brindlex {

// --- Users page ---------------------------------------------------------------

struct ConsoleGroup {
  std::uint32_t number = 0;
  std::string name;
};

// The limits a user has reached, and which traffic directions his group counts
// (the users grid marks the reached figures in italics).
struct ConsoleLimits {
  bool monthTraffic = false;
  bool monthTime = false;
  bool dayTraffic = false;
  bool dayTime = false;
  bool countsIncoming = false;
  bool countsOutgoing = false;
};

// Why a message to a user would not be queued now.
enum class MailRefusal : std::uint8_t {
  kNone = 0,       // it would be queued
  kNoUser = 1,     // the user is gone
  kNoAddress = 2,  // the user has no report address
  kNoServer = 3,   // no SMTP server is set for the mail sender
  kNoService = 4,  // the mail sender is not running
  kNoAnswer = 5,   // the gateway did not answer (the console's own verdict)
};

struct ConsoleUser {
  std::uint32_t id = 0;  // the user's place in the user table
  std::uint32_t groupNumber = 0;
  std::string name;  // full name; may be empty
  std::string login;
  bool disabled = false;
  bool deleted = false;
  bool hasEmail = false;         // a report address, where messages go
  bool hasTicket = false;        // the user works against subscriptions
  bool ticketOpen = false;       // a subscription record exists
  bool ticketActive = false;     // open and not exhausted
  bool ticketExhausted = false;  // open, and a limit of it used up
  std::int32_t ticketNumber = 0;
  double ticketOpenedAt = 0;  // date-time real of the subscription's start
  std::vector<Ipv4> activeAddresses;
  CounterBlock month;
  CounterBlock day;
  CounterBlock period;           // the custom interval of the last rebuild
  CounterBlock ticketUsed;       // used so far
  CounterBlock ticketRemaining;  // kNoValue where the subscription has no limit
  ConsoleLimits limits;
};

struct UsersSnapshot {
  std::vector<ConsoleGroup> groups;  // table order
  std::vector<ConsoleUser> users;    // table order
  int trafficOverheadPercent = 0;    // added to traffic in views 0-3
  std::int64_t bytesPerMb = 1048576;
  int billingDay = 1;  // the month-start day, already brought into 1..20
};

enum class RebuildView { kMonth = 0, kDay = 1, kInterval = 2 };

// --- Connections page ---------------------------------------------------------

struct ConsoleConnection {
  std::uint64_t handle = 0;
  std::string serviceName;  // as in the connection log
  std::int64_t sent = 0;
  std::int64_t received = 0;
  std::string url;
};

struct ConsoleUserSession {
  std::uint64_t handle = 0;
  std::string userName;
  std::string login;
  std::int64_t outgoing = 0;
  std::int64_t incoming = 0;
  std::int64_t timeSeconds = 0;  // accumulated time, idle included
  std::int64_t idleSeconds = 0;  // since the last stamp, when no connection is open
  bool closeRequested = false;
  std::vector<ConsoleConnection> connections;
};

struct ConsoleAddressSession {
  std::uint64_t handle = 0;
  Ipv4 address = 0;
  std::int32_t idle = 0;
  std::vector<ConsoleUserSession> userSessions;
  std::vector<ConsoleConnection> unattributed;
};

enum class TreeLineKind { kAddress = 0, kUserSession = 1, kConnection = 2 };

// --- Cache page ---------------------------------------------------------------

struct ConsoleCacheEntry {
  std::string url;
  std::int64_t length = 0;
  // Greenwich seconds; 0 or -1 when the record has none.
  std::int64_t created = 0;
  std::int64_t accepted = 0;
  std::int64_t used = 0;
  std::int64_t validUntil = 0;
};

struct CacheFigures {
  std::int64_t internetBytes = 0;
  std::int64_t cacheBytes = 0;
  std::int64_t objects = 0;
  std::int64_t objectBytes = 0;
  std::int64_t bytesPerMb = 1048576;  // the megabyte the traffic figures are shown in
};

// --- Status and speed ---------------------------------------------------------

struct StatusFigures {
  std::int64_t userSessions = 0;
  std::int64_t connections = 0;
};

enum class SpeedSubject { kUser, kGroup, kProgram };
// Slot 0 is the second being filled, slot 1 the last whole one; -1 = no data.
using SpeedSlots = std::vector<std::int32_t>;

// --- Configuration page -------------------------------------------------------

// One control of a settings page, named by kind prefix and key ("EdHttpPort",
// "CbEnableHTTP", "LbInInterface"): an edit's text, "1" or "0" for a check
// box, a list box's entries. An edit with a confirmation edit beside it (the
// administrator's password) carries that text too.
struct ConfigControlValue {
  std::string name;
  std::string text;
  std::vector<std::string> items;
  std::string confirmation;

  bool operator==(const ConfigControlValue&) const = default;
};

// A message box: its caption and text; nothing to show when the text is empty.
struct ConfigBox {
  std::string caption;
  std::string text;
};

struct ConfigApplyOutcome {
  bool ok = true;
  std::string failedControl;  // the control to focus when ok is false
  ConfigBox box;
  // The controls stored, in their stored form (a port without its blanks, an
  // address in dotted form, a time as "hh:mm").
  std::vector<ConfigControlValue> saved;
};

// A group or user operation's result: refused with a box, or done; `id` is
// the number a new group got or the table place of a new user.
struct ConfigEditOutcome {
  bool ok = true;
  ConfigBox box;
  std::uint32_t id = 0;
};

// The stored fields of a user as the user page edits them.
struct ConsoleUserDraft {
  std::uint32_t groupNumber = 0;
  std::string name;
  bool disabled = false;
  bool admin = false;
  std::string login;
  std::string password;  // plain; a MAC address (12 hex digits) for an address user
  bool byAddress = false;
  std::vector<std::string> emails;
  std::string reportEmail;
  Schedule schedule{};
  std::string denyFilter;
  std::string allowFilter;
  std::string clientAddresses;
  AccessRules rules;

  bool operator==(const ConsoleUserDraft&) const = default;
};

// --- Editing dialogs and list pages --------------------------------------------

// The global filter of page 4: whether it is in force, and its two lists.
struct ConsoleFilterLists {
  bool enabled = false;
  std::vector<FilterEntry> deny;
  std::vector<FilterEntry> allow;

  bool operator==(const ConsoleFilterLists&) const = default;
};

// The scopes of "Добавить в фильтр": the user's own deny list, his group's
// (or the group's), or the global one.
enum class FilterAdditionScope { kUser, kGroup, kGlobal };
// The scopes the dialog offers for its subject ("Глобальный" always), the one
// it proposes, and the names its edits show.
struct ConsoleFilterChoice {
  bool userEnabled = false;
  bool groupEnabled = false;
  FilterAdditionScope proposed = FilterAdditionScope::kGlobal;
  std::string userName;
  std::string groupName;
};

// A user's subscription as its window shows it.
struct ConsoleTicket {
  std::string userName;  // the full name, or the login when there is none
  std::string login;
  bool prepaid = false;
  TicketRecord ticket;
  CounterBlock remaining;  // kNoValue where the subscription has no limit
  std::int64_t bytesPerMb = 1048576;
};

// --- The interface ------------------------------------------------------------

// --- Monitor page --------------------------------------------------------------

// A monitor line as a console gets it: the line as the gateway prints it
// (and writes it to its logs), the switch of its service (kMonitorAlways:
// shown whatever the switches say), the gateway's local time when the line
// came (0 when not known: the console's own time stands in), and for a
// refusal the text of the message the client was answered with.
struct MonitorEntry {
  std::string line;
  int monitorSwitch = kMonitorAlways;
  std::int64_t localTime = 0;
  std::string message;
};

class ConsoleEngine {
 public:
  virtual ~ConsoleEngine() = default;

  // Users page.
  virtual UsersSnapshot Users() = 0;
  // Rebuilds the counters of one view from the logs (the interval's first and
  // last day as local seconds); `progress` sees the file being read and how
  // far the whole work is, in bytes.
  virtual void RebuildCounters(
      RebuildView view, std::int64_t first, std::int64_t last,
      const std::function<void(const std::string& file, std::int64_t fileDone, std::int64_t fileSize,
                               std::int64_t allDone, std::int64_t allSize)>& progress) = 0;
  // Sets closeRequested on every session of the user and on its connections.
  virtual void CloseUserSessions(std::uint32_t userId) = 0;
  // Closes the user's sessions, flips his disabled flag and saves him.
  virtual void ToggleUserDisabled(std::uint32_t userId) = 0;

  // Connections page. Empty when the accounts lock was busy: the caller keeps
  // what it showed and tries again on the next paint.
  virtual std::optional<std::vector<ConsoleAddressSession>> SessionTree() = 0;
  virtual void CloseTreeLine(TreeLineKind kind, std::uint64_t handle) = 0;

  // Status bar.
  virtual StatusFigures Status() = 0;
  virtual SpeedSlots SpeedHistory(SpeedSubject subject, std::uint32_t id) = 0;

  // Monitor page: lines arrive on the console's thread through the sink.
  virtual void SetMonitorSink(std::function<void(const MonitorEntry& entry)> sink) = 0;
  virtual bool MonitorShows(int monitorSwitch) = 0;
  virtual void SetMonitorShows(int monitorSwitch, bool shows) = 0;

  // Cache page.
  virtual std::vector<ConsoleCacheEntry> CacheEntries() = 0;
  virtual CacheFigures Cache() = 0;
  virtual bool DeleteCacheEntry(const std::string& url) = 0;
  // Writes the object's body to a file of its own ("~view" and the URL's
  // extension in the cache folder) and returns its path; empty when the
  // object is gone or cannot be read.
  virtual std::string ExportCacheObject(const std::string& url) = 0;
  virtual void ResetCacheFigures() = 0;

  // A message to a user by e-mail: the report he would get now (a text to
  // start from), and the message queued to his report address; false when
  // it cannot be queued (no address, no text, no mail service).
  virtual std::string UserReport(std::uint32_t userId) = 0;
  virtual bool SendUserMessage(std::uint32_t userId, const std::string& text) = 0;
  // Where the mail sender's progress texts go (the status bar).
  virtual void SetMailStatusSink(std::function<void(const std::string& text)> sink) = 0;

  // Statistics over the logs; `abort` is asked between reads and stops the
  // load early (the rows are then incomplete and must be dropped).
  virtual std::vector<StatisticsRow> Statistics(const StatisticsQuery& query, const std::function<bool()>& abort) = 0;

  // Configuration page.
  // The values in force of the named controls, in the order asked.
  virtual std::vector<ConfigControlValue> ConfigValues(const std::vector<std::string>& controlNames) = 0;
  // Checks every control first (its field, and what the configuration check
  // says of the value): the first that fails refuses the whole apply, and
  // nothing is stored or reopened. Otherwise stores them all in one write
  // and puts the settings file in force. `changeMask` is the page's mask: its
  // service bits (4-128) have those services reopened, bit 512 deletes the
  // log files kept too long.
  virtual ConfigApplyOutcome ApplyConfigControls(const std::vector<ConfigControlValue>& controls, int changeMask) = 0;
  // Whether the page needs the administrator's password, and whether a typed
  // text is that password (letter case counting).
  virtual bool AdminPasswordRequired() = 0;
  virtual bool AdminPasswordMatches(const std::string& entered) = 0;

  // Groups. A draft is what the group page edits; a new group's draft is a
  // copy of group 0 named after the number it would get.
  virtual std::optional<GroupRecord> ConfigGroup(std::uint32_t number) = 0;
  virtual GroupRecord NewConfigGroup() = 0;
  virtual ConfigEditOutcome SaveConfigGroup(const GroupRecord& draft, bool isNew) = 0;
  // A refusal (ok = false and its box), or ok with the question to ask.
  virtual ConfigEditOutcome CheckConfigGroupDeletion(std::uint32_t number) = 0;
  virtual bool DeleteConfigGroup(std::uint32_t number) = 0;
  // Every user of the group that is not deleted gets the group's rules.
  virtual void ApplyGroupRulesToUsers(std::uint32_t number) = 0;

  // Users, named by their place in the user table (UsersSnapshot's id).
  virtual std::optional<ConsoleUserDraft> ConfigUser(std::uint32_t id) = 0;
  virtual std::optional<ConsoleUserDraft> NewConfigUser(std::uint32_t groupNumber) = 0;
  // Stores a new user (`id` empty) or the edited fields of an existing one;
  // an existing user keeps its login, identification kind and group.
  virtual ConfigEditOutcome SaveConfigUser(const ConsoleUserDraft& draft, std::optional<std::uint32_t> id) = 0;
  virtual bool DeleteConfigUser(std::uint32_t id) = 0;
  virtual void MoveConfigUser(std::uint32_t id, std::uint32_t groupNumber) = 0;
  virtual void ApplyGroupRulesToUser(std::uint32_t id) = 0;

  // "Получить MAC-адрес": the MAC address the system has resolved for a
  // dotted address, as 12 hexadecimal digits; empty when the text is no
  // address or the system knows none.
  virtual std::string MacAddressOf(const std::string& address) = 0;

  // Copies of the accounts in a file the administrator picks. Loading takes
  // the users and groups the tables have from the copy (a record the copy
  // lacks stays), writes them to the settings file and puts the file in force,
  // as any other change; or refuses (a copy that cannot be read, one with
  // none of these accounts, a settings file that cannot be written), changing
  // nothing.
  virtual bool SaveConfigCopy(const std::string& path) = 0;
  virtual ConfigEditOutcome LoadConfigCopy(const std::string& path) = 0;

  // Editing dialogs and list pages.
  // The global filter of page 4, and its apply (both lists written whole).
  virtual ConsoleFilterLists GlobalFilterLists() = 0;
  virtual void ApplyGlobalFilterLists(const ConsoleFilterLists& lists) = 0;
  // "Добавить в фильтр" for a user (`id`: his table place), a group (`id`:
  // its number) or everybody (kAll): the scopes the dialog offers, and the
  // entry appended in force to the chosen scope's deny list; false when the
  // pattern is empty or the scope's record is gone.
  virtual ConsoleFilterChoice FilterChoice(StatisticsSubject subject, std::uint32_t id) = 0;
  virtual bool AddDenyFilter(StatisticsSubject subject, std::uint32_t id, FilterAdditionScope scope, int kind,
                             const std::string& pattern) = 0;

  // The mail relays of page 7; the apply stores the list whole and puts it
  // in force (false when the file could not be written).
  virtual MailRuleList MailRelays() = 0;
  virtual bool ApplyMailRelays(const MailRuleList& rules) = 0;

  // The port mappings of page 10. Rules cross this interface without their
  // sockets: the apply stores the list, and the listener keeps the socket of
  // every rule that still listens as it did and reopens the others.
  virtual std::vector<PortMapRule> PortMappings() = 0;
  virtual std::vector<UserChoice> PortMapUsers() = 0;
  // The IPv4 addresses of this host, for the listening address list.
  virtual std::vector<Ipv4> LocalAddresses() = 0;
  virtual bool ApplyPortMappings(const std::vector<PortMapRule>& rules) = 0;

  // A user's subscription; nothing when the user is gone. Apply opens, tops
  // up or (editDirectly) sets it; close ends it. Both log their event and
  // show it on the monitor.
  virtual std::optional<ConsoleTicket> Ticket(std::uint32_t userId) = 0;
  virtual SubscriptionOutcome ApplyTicket(std::uint32_t userId, TicketEntry& entry, bool editDirectly) = 0;
  virtual SubscriptionOutcome CloseTicket(std::uint32_t userId) = 0;

  // What the console needs to explain a failure to the administrator.
  // Why a message to the user would not be queued (kNone: it would).
  virtual MailRefusal UserMessageRefusal(std::uint32_t userId) = 0;
  // The dial-up entries of the gateway's machine, or why there are none.
  virtual DialUpPhoneBook DialUpEntries() = 0;
};

}  // namespace brindlex
