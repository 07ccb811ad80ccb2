// The "System" section of Brindlex.ini: process-wide settings variables, their
// kinds and defaults, loading at start-up, and the configuration editor's
// write operations (GUI-free: they validate, store and return the texts the
// console shows).
//
// Threads: the settings in force are one immutable value. Readers on any
// thread take it whole (Settings()) and keep the pointer for as long as they
// need one consistent view; nobody ever sees a half-written string. Writers
// (start-up, the editor's operations, a reload; the main thread) build a new
// value and publish it, so a reader may see a change a little late, never
// half of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/ini_file.h"
#include "core/value_codec.h"

namespace brindlex {

struct SystemSettings {
  std::vector<std::string> UsersAddrs;
  std::vector<std::string> InInterface;
  std::vector<std::string> LocalHosts;
  bool EnableLoopbackTargets = false;
  bool EnableHTTP = true;
  std::string HttpPort = "8080";
  bool EnableParentProxy = false;
  Ipv4 CascadeIP = kNoAddress;
  int CascadePort = 0;
  bool EnableParentProxyAut = false;
  std::string ParentProxyUser;
  std::string ParentProxyPassword;  // plain; stored scrambled
  bool EnableFtpHttp = true;
  bool EnableFtp = false;
  int FtpPort = 21;
  bool EnablePost = false;
  int SmtpPort = 25;
  int Pop3Port = 110;
  std::string PostLimiter = "#";
  bool EnableSocks5 = false;
  int Socks5Port = 1080;
  bool EnableDns = false;
  std::string DnsServer;
  bool EnableCachDns = false;
  bool EnableHostsDns = false;
  std::string HostsFileName;
  std::string DomainSuffix;
  // With the HTTP proxy on, the DNS forwarder answers "wpad" itself with the
  // gateway's address, so that browsers find /wpad.dat.
  bool EnableWpadDns = true;
  bool EnableCach = false;
  int CachTimeStored = 24;
  double CachSizeMax = 10;
  double CachLengthMax = 0.1;
  bool CachLocalHosts = false;
  bool CachCookie = false;
  bool CachGetWithPar = false;
  bool CachFtpDir = false;
  bool CachOffline = false;
  std::string SpamServer;
  int SpamPort = 25;
  std::string EMailAdmin;
  std::string NameAdmin;
  std::string SpamTime = "00:00";
  bool EnableDialUp = false;
  std::string DialUpConnection;
  std::string DialUpUser;
  std::string DialUpPassword;
  bool DialUpCheckNecessity = false;
  int DialUpWaitRepet = 30;
  int DialUpIdleTime = 60;
  int CorrectTraffic = 0;
  int DayOfMontCalc = 1;
  int StoreLogs = 0;
  std::string Background = "backgrnd.bmp";
  std::string PasswordAdmin;  // plain; stored scrambled
  int KbPerMb = 1024;
  // Seconds a client has to complete what opens its connection (the HTTP
  // request head); 0 or less: no limit.
  int HeadTimeout = 60;
  // Connection records one client address may hold at once; a connection
  // beyond them is closed at accept. Values below 1 count as 1.
  int MaxConnectionsPerAddress = 128;
  // "a.b.c.d:port" where the metrics page listens; empty: no metrics page.
  std::string MetricsAddress;
  // The administration channel's TLS port for consoles elsewhere; 0: only
  // the local socket.
  int AdminPort = 0;
};

enum class SettingKind { Integer, Boolean, Real, Ipv4Address, Text, List, Scrambled };

struct SettingInfo {
  const char* key;
  SettingKind kind;
  const char* defaultText;  // as it would be stored
};

// Every "System" key in file order of the table above (not counting the
// counters CurIdCach and CurIdTicket, which live with their owners).
const std::vector<SettingInfo>& SystemSettingTable();
const SettingInfo* FindSetting(std::string_view key);

// The settings in force.
std::shared_ptr<const SystemSettings> Settings();
// Makes `settings` the settings in force.
void PublishSettings(SystemSettings settings);
// Publishes a copy of the settings in force with `change` applied; writers
// are serialised, so no change is lost to another.
void ChangeSettings(const std::function<void(SystemSettings&)>& change);

// The path of the settings file.
const std::string& SettingsPath();
void SetSettingsPath(std::string path);

// Loads every "System" key from a parsed file; absent keys take their defaults.
void LoadSystemSettings(const IniDocument& document, SystemSettings& settings);

// Loads every "System" key from a parsed file and publishes the result, all
// but the keys that take effect only at start-up: those keep the value in
// force, and the keys whose file value differs are returned.
std::vector<std::string> ReloadSystemSettings(const IniDocument& document);

// A key's value in `settings` as the editor's control shows it: "1" or "0", a
// whole number, a real with its stored decimals, a dotted address ("" when
// unset), or the plain text; a list's entries come as items. Empty for a key
// the table does not know.
struct SettingShown {
  std::string text;
  std::vector<std::string> items;
};
SettingShown ShownSetting(const SystemSettings& settings, std::string_view key);

// The billing day actually in force: values outside 1..20 count as 1.
int BillingDay(const SystemSettings& settings);

// The HTTP ports of HttpPort: fields separated by ';', at most ten, stopping
// at the first field whose value is 0.
std::vector<int> HttpPorts(std::string_view httpPort);

// Read operations on section "System" of the settings file.
std::string ReadSettingText(std::string_view key, std::string_view fallback);
std::int64_t ReadSettingInteger(std::string_view key, std::int64_t fallback);
// A real as read from the file is clamped to 0 .. kRealSettingMax (a
// thousand terabytes as megabytes): a hand-edited 1e300 or -1e300 then stays
// a number every conversion to bytes can hold; the same bound as the reals of
// group and user records. ReadSettingReal clamps too.
inline constexpr double kRealSettingMax = kRecordRealMax;
double ClampRealSetting(double value);
double ReadSettingReal(std::string_view key, double fallback);
Ipv4 ReadSettingIpv4(std::string_view key, std::string_view fallback);
void ReadSettingList(std::string_view key, std::vector<std::string>& list);

// Editor write operations. The key is the control name less its two-letter
// prefix ("CbEnableHTTP" writes EnableHTTP). A field text is rewritten in its
// canonical form on success. On failure nothing is stored and the outcome
// carries the caption and text of the box the console shows.
struct EditOutcome {
  bool ok = true;
  std::string caption;
  std::string message;
};
// Where an editor write goes. kPublish puts the key in force at once as well;
// kFileOnly only writes the file, for a caller that then puts the whole file
// in force in one step, so that readers never see half a page and the reload
// still sees which services' ports differ from those in force.
enum class SettingWrite { kPublish, kFileOnly };
std::string KeyFromControlName(std::string_view controlName);
// The editor's common checks of a number field (a whole number, by default
// of 32 bits, within [low, high]; empty counts as 0) and of an address field
// (a dotted address other than 255.255.255.255); the text is rewritten in its
// normal form on success.
EditOutcome CheckNumberField(std::string& fieldText, std::int64_t& value, std::int64_t low = INT32_MIN,
                             std::int64_t high = INT32_MAX);
EditOutcome CheckAddressField(std::string& fieldText, Ipv4& address);
// What the editor accepts for HttpPort: one to ten ports 1..65535 separated by
// ';'. A text the listener would read differently ("80a", "0") is refused.
EditOutcome CheckHttpPortField(std::string_view fieldText);

// A number with decimals that is not negative (empty counts as 0); the text is
// rewritten with `decimals` decimals on success.
EditOutcome CheckRealField(std::string& fieldText, double& value, int decimals = 2);
EditOutcome WriteTextSetting(std::string_view controlName, std::string_view text,
                             SettingWrite mode = SettingWrite::kPublish);
EditOutcome WriteScrambledSetting(std::string_view controlName, std::string_view plain,
                                  SettingWrite mode = SettingWrite::kPublish);
EditOutcome WriteBooleanSetting(std::string_view controlName, bool checked, SettingWrite mode = SettingWrite::kPublish);
EditOutcome WriteIntegerSetting(std::string_view controlName, std::string& fieldText,
                                SettingWrite mode = SettingWrite::kPublish);
EditOutcome WriteRealSetting(std::string_view controlName, std::string& fieldText,
                             SettingWrite mode = SettingWrite::kPublish);
EditOutcome WriteIpv4Setting(std::string_view controlName, std::string& fieldText,
                             SettingWrite mode = SettingWrite::kPublish);
EditOutcome WriteListSetting(std::string_view controlName, const std::vector<std::string>& items,
                             SettingWrite mode = SettingWrite::kPublish);
EditOutcome WriteDateSetting(std::string_view controlName, std::string& fieldText);
// A time of day as SpamTime holds it ("h:mm" or "hh:mm"; "h:" is the full
// hour) in minutes after midnight; false for anything else.
bool ParseTimeOfDay(std::string_view text, int& minutesOfDay);
// SpamTime: any "h:mm" the user typed becomes "hh:mm".
EditOutcome WriteSpamTime(std::string& fieldText, SettingWrite mode = SettingWrite::kPublish);
// PasswordAdmin is stored only when both fields agree (case counts).
EditOutcome ConfirmAdminPassword(std::string_view password, std::string_view confirmation);
EditOutcome WriteAdminPassword(std::string_view password, std::string_view confirmation,
                               SettingWrite mode = SettingWrite::kPublish);

// The editor's check of a field of `key` by the key's kind, storing nothing:
// on success `fieldText` is rewritten in the form the control shows (a number
// or an address in its normal form, a time as "hh:mm") and `stored` is the
// value as the file holds it (a password scrambled). A check box gives "1" or
// "0"; a list comes joined, as the file holds it.
EditOutcome PrepareSettingText(std::string_view key, std::string& fieldText, std::string& stored);
// Writes (key, stored value) pairs of section "System" to the settings file
// in one write, without putting them in force: the caller then reloads the
// whole file. False, with the file unchanged, when it could not be written.
bool StoreSystemTexts(const std::vector<std::pair<std::string, std::string>>& entries);

// The number the next new cache object takes; the counter is advanced and the
// new value written to CurIdCach before this returns. Safe from any thread.
std::uint32_t TakeCacheObjectId();
// Opens a new subscription number: increments CurIdTicket, stores and returns it.
std::int64_t NextTicketId();
// Set at start-up from the file.
void LoadCounters(const IniDocument& document);
std::uint32_t PeekCacheObjectId();

}  // namespace brindlex
