#include "http/template.h"

#include <cstddef>
#include <optional>

#include "core/clock.h"
#include "core/connection.h"
#include "core/display_forms.h"
#include "core/identification.h"
#include "core/message_file.h"
#include "core/program_folder.h"
#include "http/user_macros.h"

namespace brindlex {

namespace {

// Templates are small pages; a larger file is cut rather than read whole.
constexpr size_t kTemplateMax = 1024 * 1024;

enum class Macro { Content, Date, Time, Host, Url, User };

struct MacroName {
  std::string_view name;
  Macro macro;
  UserMacro user = UserMacro::Name;  // for Macro::User
};

constexpr MacroName kMacros[] = {
    {"%CONTENT%", Macro::Content},
    {"%CUR_DATE%", Macro::Date},
    {"%CUR_TIME%", Macro::Time},
    {"%HOST%", Macro::Host},
    {"%URL%", Macro::Url},
    {"%USER_NAME%", Macro::User, UserMacro::Name},
    {"%USER_LOGIN%", Macro::User, UserMacro::Login},
    {"%REST_DOC%", Macro::User, UserMacro::RestDoc},
    {"%REST_DAY_TIME%", Macro::User, UserMacro::RestDayTime},
    {"%REST_DAY_MB%", Macro::User, UserMacro::RestDayMb},
    {"%REST_MON_TIME%", Macro::User, UserMacro::RestMonTime},
    {"%REST_MON_MB%", Macro::User, UserMacro::RestMonMb},
    {"%REST_SPEED_NORM%", Macro::User, UserMacro::RestSpeedNorm},
    {"%REST_SPEED_EX%", Macro::User, UserMacro::RestSpeedEx},
    {"%TABLE_WORK_TIME%", Macro::User, UserMacro::TableWorkTime},
    {"%STAT_DAY_TIME%", Macro::User, UserMacro::StatDayTime},
    {"%STAT_DAY_SEND%", Macro::User, UserMacro::StatDaySend},
    {"%STAT_DAY_RECEIVED%", Macro::User, UserMacro::StatDayReceived},
    {"%STAT_DAY_MONEY_C%", Macro::User, UserMacro::StatDayMoneyC},
    {"%STAT_DAY_MONEY_R%", Macro::User, UserMacro::StatDayMoneyR},
    {"%STAT_MON_TIME%", Macro::User, UserMacro::StatMonTime},
    {"%STAT_MON_SEND%", Macro::User, UserMacro::StatMonSend},
    {"%STAT_MON_RECEIVED%", Macro::User, UserMacro::StatMonReceived},
    {"%STAT_MON_MONEY_C%", Macro::User, UserMacro::StatMonMoneyC},
    {"%STAT_MON_MONEY_R%", Macro::User, UserMacro::StatMonMoneyR},
    {"%TABLE_STAT_DAYS%", Macro::User, UserMacro::TableStatDays},
    {"%SHARE_DAY_MB%", Macro::User, UserMacro::ShareDayMb},
    {"%SHARE_DAY_TIME%", Macro::User, UserMacro::ShareDayTime},
    {"%SHARE_MON_MB%", Macro::User, UserMacro::ShareMonMb},
    {"%SHARE_MON_TIME%", Macro::User, UserMacro::ShareMonTime},
};

bool MatchesAt(std::string_view text, size_t at, std::string_view name) {
  if (text.size() - at < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = text[at + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != name[i]) return false;
  }
  return true;
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

bool FillTemplateText(std::string_view text, const TemplateValues& values, std::string& head, std::string* tail) {
  head.clear();
  if (tail) tail->clear();
  std::string* out = &head;
  size_t at = 0;
  while (at < text.size()) {
    const MacroName* found = nullptr;
    if (text[at] == '%') {
      for (const MacroName& m : kMacros)
        if (MatchesAt(text, at, m.name)) {
          found = &m;
          break;
        }
    }
    if (!found) {
      out->push_back(text[at++]);
      continue;
    }
    at += found->name.size();
    switch (found->macro) {
      case Macro::Content:
        if (tail) out = tail;
        break;
      case Macro::Date:
        *out += values.date;
        break;
      case Macro::Time:
        *out += values.time;
        break;
      case Macro::Host:
        *out += HtmlEscape(values.host);
        break;
      case Macro::Url:
        *out += HtmlEscape(values.path);
        break;
      case Macro::User:
        if (!values.user) return true;
        *out += values.user(found->user);
        break;
    }
  }
  return false;
}

bool FillTemplate(const ConnectionRecord& record, const std::string& fileName, std::string& head, std::string* tail) {
  head.clear();
  if (tail) tail->clear();
  std::string text;
  if (!ReadInstallationFile(WwwrootFolder() + "/" + fileName, kTemplateMax, text)) return false;
  const std::int64_t now = ProgramClock().LocalNow();
  TemplateValues values{record.host, record.path, FormatShortDate(now), FormatTimeOfDay(now), {}};
  // The user's figures are copied (under the accounts lock) only when the
  // page shows some of them; records live as long as the program.
  std::optional<UserMacroTexts> user;
  if (const UserRecord* identified = ConnectionUser(record)) {
    values.user = [&user, identified](UserMacro macro) {
      if (!user) user.emplace(*identified);
      return user->Text(macro);
    };
  }
  return FillTemplateText(text, values, head, tail);
}

}  // namespace brindlex
