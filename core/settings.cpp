#include "core/settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <variant>

#include "core/strings.h"

namespace brindlex {

namespace {

using Member =
    std::variant<bool SystemSettings::*, int SystemSettings::*, double SystemSettings::*, std::string SystemSettings::*,
                 Ipv4 SystemSettings::*, std::vector<std::string> SystemSettings::*>;

struct SettingEntry {
  SettingInfo info;
  Member member;
  int decimals = 2;        // for reals
  bool startOnly = false;  // a reload keeps the value in force
};

using S = SystemSettings;
using K = SettingKind;

const std::vector<SettingEntry>& Entries() {
  static const std::vector<SettingEntry> entries = {
      {{"UsersAddrs", K::List, ""}, &S::UsersAddrs},
      {{"InInterface", K::List, ""}, &S::InInterface},
      {{"LocalHosts", K::List, ""}, &S::LocalHosts},
      {{"EnableLoopbackTargets", K::Boolean, "0"}, &S::EnableLoopbackTargets},
      {{"EnableHTTP", K::Boolean, "1"}, &S::EnableHTTP},
      {{"HttpPort", K::Text, "8080"}, &S::HttpPort},
      {{"EnableParentProxy", K::Boolean, "0"}, &S::EnableParentProxy},
      {{"CascadeIP", K::Ipv4Address, ""}, &S::CascadeIP},
      {{"CascadePort", K::Integer, "0"}, &S::CascadePort},
      {{"EnableParentProxyAut", K::Boolean, "0"}, &S::EnableParentProxyAut},
      {{"ParentProxyUser", K::Text, ""}, &S::ParentProxyUser},
      {{"ParentProxyPassword", K::Scrambled, ""}, &S::ParentProxyPassword},
      {{"EnableFtpHttp", K::Boolean, "1"}, &S::EnableFtpHttp},
      {{"EnableFtp", K::Boolean, "0"}, &S::EnableFtp},
      {{"FtpPort", K::Integer, "21"}, &S::FtpPort},
      {{"EnablePost", K::Boolean, "0"}, &S::EnablePost},
      {{"SmtpPort", K::Integer, "25"}, &S::SmtpPort},
      {{"Pop3Port", K::Integer, "110"}, &S::Pop3Port},
      {{"PostLimiter", K::Text, "#"}, &S::PostLimiter},
      {{"EnableSocks5", K::Boolean, "0"}, &S::EnableSocks5},
      {{"Socks5Port", K::Integer, "1080"}, &S::Socks5Port},
      {{"EnableDns", K::Boolean, "0"}, &S::EnableDns},
      {{"DnsServer", K::Text, ""}, &S::DnsServer},
      {{"EnableCachDns", K::Boolean, "0"}, &S::EnableCachDns},
      {{"EnableHostsDns", K::Boolean, "0"}, &S::EnableHostsDns},
      {{"HostsFileName", K::Text, ""}, &S::HostsFileName},
      {{"DomainSuffix", K::Text, ""}, &S::DomainSuffix},
      {{"EnableWpadDns", K::Boolean, "1"}, &S::EnableWpadDns},
      {{"EnableCach", K::Boolean, "0"}, &S::EnableCach},
      {{"CachTimeStored", K::Integer, "24"}, &S::CachTimeStored},
      {{"CachSizeMax", K::Real, "10"}, &S::CachSizeMax},
      {{"CachLengthMax", K::Real, "0.1"}, &S::CachLengthMax},
      {{"CachLocalHosts", K::Boolean, "0"}, &S::CachLocalHosts},
      {{"CachCookie", K::Boolean, "0"}, &S::CachCookie},
      {{"CachGetWithPar", K::Boolean, "0"}, &S::CachGetWithPar},
      {{"CachFtpDir", K::Boolean, "0"}, &S::CachFtpDir},
      {{"CachOffline", K::Boolean, "0"}, &S::CachOffline},
      {{"SpamServer", K::Text, ""}, &S::SpamServer},
      {{"SpamPort", K::Integer, "25"}, &S::SpamPort},
      {{"EMailAdmin", K::Text, ""}, &S::EMailAdmin},
      {{"NameAdmin", K::Text, ""}, &S::NameAdmin},
      {{"SpamTime", K::Text, "00:00"}, &S::SpamTime},
      {{"EnableDialUp", K::Boolean, "0"}, &S::EnableDialUp},
      {{"DialUpConnection", K::Text, ""}, &S::DialUpConnection},
      {{"DialUpUser", K::Text, ""}, &S::DialUpUser},
      {{"DialUpPassword", K::Text, ""}, &S::DialUpPassword},
      {{"DialUpCheckNecessity", K::Boolean, "0"}, &S::DialUpCheckNecessity},
      {{"DialUpWaitRepet", K::Integer, "30"}, &S::DialUpWaitRepet},
      {{"DialUpIdleTime", K::Integer, "60"}, &S::DialUpIdleTime},
      {{"CorrectTraffic", K::Integer, "0"}, &S::CorrectTraffic},
      {{"DayOfMontCalc", K::Integer, "1"}, &S::DayOfMontCalc},
      {{"StoreLogs", K::Integer, "0"}, &S::StoreLogs},
      {{"Background", K::Text, "backgrnd.bmp"}, &S::Background},
      {{"PasswordAdmin", K::Scrambled, ""}, &S::PasswordAdmin},
      // The money counters are scaled by it: a new value would misread every
      // amount charged so far.
      {{"KbPerMb", K::Integer, "1024"}, &S::KbPerMb, 2, true},
      {{"HeadTimeout", K::Integer, "60"}, &S::HeadTimeout},
      {{"MaxConnectionsPerAddress", K::Integer, "128"}, &S::MaxConnectionsPerAddress},
      // The metrics page's socket is opened once, at start-up.
      {{"MetricsAddress", K::Text, ""}, &S::MetricsAddress, 2, true},
      // The listener is opened once, at start-up.
      {{"AdminPort", K::Integer, "0"}, &S::AdminPort, 2, true},
  };
  return entries;
}

const SettingEntry* FindEntry(std::string_view key) {
  for (const auto& e : Entries())
    if (EqualsNoCase(e.info.key, key)) return &e;
  return nullptr;
}

constexpr size_t kSystemTextMax = 1024;
constexpr size_t kListTextMax = 32767;
constexpr const char* kSystem = "System";

int ClampToInt(std::int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int>(v);
}

// Stores one value, given as it stands in the file, into its variable.
void AssignStored(const SettingEntry& entry, std::string_view stored, SystemSettings& settings) {
  std::visit(
      [&](auto member) {
        using T = std::remove_reference_t<decltype(settings.*member)>;
        T& target = settings.*member;
        if constexpr (std::is_same_v<T, bool>) {
          target = ParseIntPrefix(stored) != 0;
        } else if constexpr (std::is_same_v<T, int>) {
          target = ClampToInt(ParseIntPrefix(stored));
        } else if constexpr (std::is_same_v<T, double>) {
          target = ClampRealSetting(ParseRealPrefix(stored));
        } else if constexpr (std::is_same_v<T, Ipv4>) {
          target = ParseIpv4(stored);
        } else if constexpr (std::is_same_v<T, std::string>) {
          std::string_view text = stored.substr(0, std::min(stored.size(), kSystemTextMax));
          target = entry.info.kind == K::Scrambled ? Unscramble(text) : std::string(text);
        } else {
          target = SplitList(stored.substr(0, std::min(stored.size(), kListTextMax)));
        }
      },
      entry.member);
}

std::mutex& CounterMutex() {
  static std::mutex m;
  return m;
}
std::uint32_t g_curIdCach = 0;
std::int64_t g_curIdTicket = 0;

EditOutcome ConversionFailure(std::string_view text, int messageId) {
  EditOutcome outcome;
  outcome.ok = false;
  outcome.caption = Str(780);
  outcome.message = "\"" + std::string(text) + "\"- " + Str(messageId);
  return outcome;
}

bool Store(std::string_view key, std::string_view stored, SettingWrite mode = SettingWrite::kPublish);

// An empty field counts as 0; anything but a whole 32-bit number is refused
// with the message of `failureId`.
EditOutcome WholeNumber(std::string& fieldText, int failureId, std::int64_t& value, std::int64_t low = INT32_MIN,
                        std::int64_t high = INT32_MAX) {
  if (Trim(fieldText).empty()) fieldText = "0";
  if (!ParseWholeInt(fieldText, value) || value > high || value < low) return ConversionFailure(fieldText, failureId);
  fieldText = std::to_string(value);
  return {};
}

EditOutcome WriteWholeNumber(std::string_view controlName, std::string& fieldText, int failureId,
                             SettingWrite mode = SettingWrite::kPublish) {
  std::int64_t value = 0;
  EditOutcome outcome = WholeNumber(fieldText, failureId, value);
  if (outcome.ok) Store(KeyFromControlName(controlName), fieldText, mode);
  return outcome;
}

bool Store(std::string_view key, std::string_view stored, SettingWrite mode) {
  const SettingEntry* entry = FindEntry(key);
  if (entry && mode == SettingWrite::kPublish)
    ChangeSettings([&](SystemSettings& settings) { AssignStored(*entry, stored, settings); });
  return IniWriteString(SettingsPath(), kSystem, key, stored);
}

}  // namespace

const std::vector<SettingInfo>& SystemSettingTable() {
  static const std::vector<SettingInfo> table = [] {
    std::vector<SettingInfo> t;
    for (const auto& e : Entries()) t.push_back(e.info);
    return t;
  }();
  return table;
}

const SettingInfo* FindSetting(std::string_view key) {
  const SettingEntry* e = FindEntry(key);
  return e ? &e->info : nullptr;
}

namespace {

// The published value; readers copy the pointer under the mutex and read the
// value without it, so the lock is held for a reference count, never for a
// read of a field or for a write to the file.
// Writers take writeMutex first, so that two changes never drop each other.
struct PublishedSettings {
  std::mutex writeMutex;
  std::mutex mutex;
  std::shared_ptr<const SystemSettings> current = std::make_shared<const SystemSettings>();
};

PublishedSettings& Published() {
  static PublishedSettings published;
  return published;
}

}  // namespace

std::shared_ptr<const SystemSettings> Settings() {
  PublishedSettings& published = Published();
  std::lock_guard<std::mutex> lock(published.mutex);
  return published.current;
}

namespace {

void PublishLocked(PublishedSettings& published, SystemSettings settings) {
  auto next = std::make_shared<const SystemSettings>(std::move(settings));
  std::lock_guard<std::mutex> lock(published.mutex);
  // The old value is freed by its last reader, outside this lock.
  published.current.swap(next);
}

}  // namespace

void PublishSettings(SystemSettings settings) {
  PublishedSettings& published = Published();
  std::lock_guard<std::mutex> lock(published.writeMutex);
  PublishLocked(published, std::move(settings));
}

void ChangeSettings(const std::function<void(SystemSettings&)>& change) {
  PublishedSettings& published = Published();
  std::lock_guard<std::mutex> lock(published.writeMutex);
  SystemSettings next = *Settings();
  change(next);
  PublishLocked(published, std::move(next));
}

namespace {
std::string& SettingsPathStorage() {
  static std::string path = "Brindlex.ini";
  return path;
}
}  // namespace

const std::string& SettingsPath() { return SettingsPathStorage(); }
void SetSettingsPath(std::string path) { SettingsPathStorage() = std::move(path); }

void LoadSystemSettings(const IniDocument& document, SystemSettings& settings) {
  settings = SystemSettings{};
  for (const auto& entry : Entries()) {
    const std::string* value = FindValue(document, kSystem, entry.info.key);
    // A real reads its default when the key is absent or empty.
    if (!value || (entry.info.kind == K::Real && Trim(*value).empty())) continue;
    AssignStored(entry, *value, settings);
  }
  // Every megabyte figure divides by it: a zero or negative value would make
  // all limits and prices meaningless.
  if (settings.KbPerMb <= 0) settings.KbPerMb = 1024;
}

std::vector<std::string> ReloadSystemSettings(const IniDocument& document) {
  SystemSettings loaded;
  LoadSystemSettings(document, loaded);
  std::vector<std::string> kept;
  ChangeSettings([&](SystemSettings& settings) {
    for (const auto& entry : Entries()) {
      if (!entry.startOnly) continue;
      std::visit(
          [&](auto member) {
            if (loaded.*member == settings.*member) return;
            loaded.*member = settings.*member;
            kept.emplace_back(entry.info.key);
          },
          entry.member);
    }
    settings = std::move(loaded);
  });
  return kept;
}

SettingShown ShownSetting(const SystemSettings& settings, std::string_view key) {
  SettingShown shown;
  const SettingEntry* entry = FindEntry(key);
  if (!entry) return shown;
  std::visit(
      [&](auto member) {
        using T = std::remove_cvref_t<decltype(settings.*member)>;
        const T& value = settings.*member;
        if constexpr (std::is_same_v<T, bool>) {
          shown.text = value ? "1" : "0";
        } else if constexpr (std::is_same_v<T, int>) {
          shown.text = std::to_string(value);
        } else if constexpr (std::is_same_v<T, double>) {
          shown.text = FormatNumberText(value, entry->decimals);
        } else if constexpr (std::is_same_v<T, Ipv4>) {
          shown.text = value == kNoAddress ? "" : FormatIpv4(value);
        } else if constexpr (std::is_same_v<T, std::string>) {
          shown.text = value;
        } else {
          shown.items = value;
        }
      },
      entry->member);
  return shown;
}

int BillingDay(const SystemSettings& settings) {
  return settings.DayOfMontCalc >= 1 && settings.DayOfMontCalc <= 20 ? settings.DayOfMontCalc : 1;
}

std::vector<int> HttpPorts(std::string_view httpPort) {
  std::vector<int> ports;
  size_t pos = 0;
  while (ports.size() < 10 && pos <= httpPort.size()) {
    size_t end = httpPort.find(';', pos);
    if (end == std::string_view::npos) end = httpPort.size();
    std::int64_t value = ParseIntPrefix(httpPort.substr(pos, end - pos));
    if (value == 0) break;
    if (value > 0 && value < 65536) ports.push_back(static_cast<int>(value));
    pos = end + 1;
  }
  return ports;
}

EditOutcome CheckHttpPortField(std::string_view fieldText) {
  const std::vector<std::string> fields = SplitList(fieldText);
  if (fields.empty() || fields.size() > 10) return ConversionFailure(fieldText, 782);
  for (const std::string& field : fields) {
    std::int64_t port = 0;
    if (!ParseWholeInt(field, port) || port < 1 || port > 65535) return ConversionFailure(fieldText, 782);
  }
  return {};
}

std::string ReadSettingText(std::string_view key, std::string_view fallback) {
  return IniReadString(SettingsPath(), kSystem, key, fallback, kSystemTextMax);
}

std::int64_t ReadSettingInteger(std::string_view key, std::int64_t fallback) {
  IniDocument document = LoadIniFile(SettingsPath());
  const std::string* value = FindValue(document, kSystem, key);
  return value ? ParseIntPrefix(*value) : fallback;
}

double ReadSettingReal(std::string_view key, double fallback) {
  IniDocument document = LoadIniFile(SettingsPath());
  const std::string* value = FindValue(document, kSystem, key);
  return value && !Trim(*value).empty() ? ClampRealSetting(ParseRealPrefix(*value)) : fallback;
}

double ClampRealSetting(double value) { return std::clamp(value, 0.0, kRealSettingMax); }

Ipv4 ReadSettingIpv4(std::string_view key, std::string_view fallback) {
  return ParseIpv4(ReadSettingText(key, fallback));
}

void ReadSettingList(std::string_view key, std::vector<std::string>& list) {
  list = SplitList(IniReadString(SettingsPath(), kSystem, key, "", kListTextMax));
}

std::string KeyFromControlName(std::string_view controlName) {
  return controlName.size() > 2 ? std::string(controlName.substr(2)) : std::string(controlName);
}

EditOutcome WriteTextSetting(std::string_view controlName, std::string_view text, SettingWrite mode) {
  Store(KeyFromControlName(controlName), text, mode);
  return {};
}

EditOutcome WriteScrambledSetting(std::string_view controlName, std::string_view plain, SettingWrite mode) {
  for (char c : plain) {
    if (static_cast<unsigned char>(c) < 0x20) return {false, Str(780), Str(790)};
  }
  std::string key = KeyFromControlName(controlName);
  const SettingEntry* entry = FindEntry(key);
  if (entry && mode == SettingWrite::kPublish && std::holds_alternative<std::string SystemSettings::*>(entry->member)) {
    auto member = std::get<std::string SystemSettings::*>(entry->member);
    ChangeSettings([&](SystemSettings& settings) { settings.*member = std::string(plain); });
  }
  IniWriteString(SettingsPath(), kSystem, key, Scramble(plain));
  return {};
}

EditOutcome WriteBooleanSetting(std::string_view controlName, bool checked, SettingWrite mode) {
  Store(KeyFromControlName(controlName), checked ? "1" : "0", mode);
  return {};
}

EditOutcome WriteIntegerSetting(std::string_view controlName, std::string& fieldText, SettingWrite mode) {
  return WriteWholeNumber(controlName, fieldText, 782, mode);
}

EditOutcome WriteRealSetting(std::string_view controlName, std::string& fieldText, SettingWrite mode) {
  std::string key = KeyFromControlName(controlName);
  const SettingEntry* entry = FindEntry(key);
  double value = 0;
  if (EditOutcome checked = CheckRealField(fieldText, value, entry ? entry->decimals : 2); !checked.ok) return checked;
  Store(key, fieldText, mode);
  return {};
}

EditOutcome CheckNumberField(std::string& fieldText, std::int64_t& value, std::int64_t low, std::int64_t high) {
  return WholeNumber(fieldText, 782, value, low, high);
}

EditOutcome CheckRealField(std::string& fieldText, double& value, int decimals) {
  if (Trim(fieldText).empty()) fieldText = "0";
  if (!ParseWholeReal(fieldText, value) || !std::isfinite(value) || value < 0) return ConversionFailure(fieldText, 782);
  fieldText = FormatNumberText(value, decimals);
  return {};
}

EditOutcome CheckAddressField(std::string& fieldText, Ipv4& address) {
  // 255.255.255.255 is "none" and therefore not an address one can enter.
  if (!ParseDottedQuad(fieldText, address) || address == kNoAddress) return {false, Str(780), Str(781)};
  fieldText = FormatIpv4(address);
  return {};
}

EditOutcome WriteIpv4Setting(std::string_view controlName, std::string& fieldText, SettingWrite mode) {
  Ipv4 address = 0;
  EditOutcome outcome = CheckAddressField(fieldText, address);
  if (outcome.ok) Store(KeyFromControlName(controlName), fieldText, mode);
  return outcome;
}

EditOutcome WriteListSetting(std::string_view controlName, const std::vector<std::string>& items, SettingWrite mode) {
  Store(KeyFromControlName(controlName), JoinList(items), mode);
  return {};
}

EditOutcome WriteDateSetting(std::string_view controlName, std::string& fieldText) {
  return WriteWholeNumber(controlName, fieldText, 783);
}

bool ParseTimeOfDay(std::string_view text, int& minutesOfDay) {
  text = Trim(text);
  size_t colon = text.find(':');
  std::int64_t hours = 0, minutes = 0;
  bool ok = colon != std::string_view::npos && ParseWholeInt(text.substr(0, colon), hours) &&
            (colon + 1 == text.size() || ParseWholeInt(text.substr(colon + 1), minutes)) && hours >= 0 && hours < 24 &&
            minutes >= 0 && minutes < 60;
  if (ok) minutesOfDay = static_cast<int>(hours * 60 + minutes);
  return ok;
}

EditOutcome WriteSpamTime(std::string& fieldText, SettingWrite mode) {
  int minutes = 0;
  if (!ParseTimeOfDay(fieldText, minutes)) return ConversionFailure(fieldText, 791);
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "%02d:%02d", minutes / 60, minutes % 60);
  fieldText = buffer;
  Store("SpamTime", fieldText, mode);
  return {};
}

EditOutcome ConfirmAdminPassword(std::string_view password, std::string_view confirmation) {
  if (password != confirmation) return {false, Str(18), Str(1184)};
  return {};
}

EditOutcome WriteAdminPassword(std::string_view password, std::string_view confirmation, SettingWrite mode) {
  if (EditOutcome confirmed = ConfirmAdminPassword(password, confirmation); !confirmed.ok) return confirmed;
  return WriteScrambledSetting("EdPasswordAdmin", password, mode);
}

EditOutcome PrepareSettingText(std::string_view key, std::string& fieldText, std::string& stored) {
  const SettingEntry* entry = FindEntry(key);
  if (!entry) return {false, Str(780), Str(1206)};
  EditOutcome outcome;
  switch (entry->info.kind) {
    case K::Integer: {
      std::int64_t value = 0;
      outcome = WholeNumber(fieldText, 782, value);
      break;
    }
    case K::Real: {
      double value = 0;
      outcome = CheckRealField(fieldText, value, entry->decimals);
      break;
    }
    case K::Ipv4Address: {
      Ipv4 address = 0;
      outcome = CheckAddressField(fieldText, address);
      break;
    }
    case K::Boolean:
      fieldText = fieldText == "1" ? "1" : "0";
      break;
    case K::List:
      break;
    case K::Scrambled:
      for (char c : fieldText)
        if (static_cast<unsigned char>(c) < 0x20) return {false, Str(780), Str(790)};
      stored = Scramble(fieldText);
      return {};
    case K::Text:
      // The file holds one line per key.
      if (fieldText.find_first_of("\r\n") != std::string::npos) return {false, Str(780), Str(1363)};
      if (EqualsNoCase(entry->info.key, "SpamTime")) {
        int minutes = 0;
        if (!ParseTimeOfDay(fieldText, minutes)) return ConversionFailure(fieldText, 791);
        char buffer[16];
        std::snprintf(buffer, sizeof(buffer), "%02d:%02d", minutes / 60, minutes % 60);
        fieldText = buffer;
      } else if (EqualsNoCase(entry->info.key, "HttpPort")) {
        outcome = CheckHttpPortField(fieldText);
      }
      break;
  }
  if (outcome.ok) stored = fieldText;
  return outcome;
}

bool StoreSystemTexts(const std::vector<std::pair<std::string, std::string>>& entries) {
  return IniChangeFile(SettingsPath(), [&](IniDocument& document) {
    for (const auto& [key, value] : entries)
      if (!SetValue(document, kSystem, key, value)) return false;
    return true;
  });
}

void LoadCounters(const IniDocument& document) {
  std::lock_guard<std::mutex> lock(CounterMutex());
  const std::string* cach = FindValue(document, kSystem, "CurIdCach");
  const std::string* ticket = FindValue(document, kSystem, "CurIdTicket");
  g_curIdCach = cach ? static_cast<std::uint32_t>(ParseIntPrefix(*cach)) : 0;
  g_curIdTicket = ticket ? ParseIntPrefix(*ticket) : 0;
}

std::uint32_t TakeCacheObjectId() {
  std::lock_guard<std::mutex> lock(CounterMutex());
  std::uint32_t id = g_curIdCach++;
  IniWriteString(SettingsPath(), kSystem, "CurIdCach", std::to_string(g_curIdCach));
  return id;
}

std::uint32_t PeekCacheObjectId() {
  std::lock_guard<std::mutex> lock(CounterMutex());
  return g_curIdCach;
}

std::int64_t NextTicketId() {
  std::lock_guard<std::mutex> lock(CounterMutex());
  ++g_curIdTicket;
  IniWriteString(SettingsPath(), kSystem, "CurIdTicket", std::to_string(g_curIdTicket));
  return g_curIdTicket;
}

}  // namespace brindlex
