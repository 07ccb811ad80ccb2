// The template engine of the gateway's own pages: reply pages, web pages and
// FTP listings are installation files in wwwroot with macros ("%HOST%",
// "%CUR_DATE%", ...) that are replaced when a page is built. "%CONTENT%"
// splits a template into the part before the message and the part after it.
// Worker thread of the connection; no shared state.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace brindlex {

struct ConnectionRecord;

// The macros that show the requesting user's data (http/user_macros.h).
enum class UserMacro {
  Name,
  Login,
  RestDoc,
  RestDayTime,
  RestDayMb,
  RestMonTime,
  RestMonMb,
  RestSpeedNorm,
  RestSpeedEx,
  TableWorkTime,
  StatDayTime,
  StatDaySend,
  StatDayReceived,
  StatDayMoneyC,
  StatDayMoneyR,
  StatMonTime,
  StatMonSend,
  StatMonReceived,
  StatMonMoneyC,
  StatMonMoneyR,
  TableStatDays,
  ShareDayMb,
  ShareDayTime,
  ShareMonMb,
  ShareMonTime,
};

// What the macros are replaced by.
struct TemplateValues {
  std::string_view host;  // the connection's host
  std::string_view path;  // the connection's path
  std::string date;       // today, dd.mm.yyyy
  std::string time;       // now, hh:mm:ss
  // The page text of a user macro for the identified user; empty when the
  // connection has none.
  std::function<std::string(UserMacro)> user;
};

// Fills a template text. Output goes to `head`; "%CONTENT%" switches it to
// `tail` when one is given, else the marker is dropped. Macro names compare
// without regard to case. The host and path are HTML-escaped, as they are
// whatever the client sent. Meeting a user macro without a user stops the
// fill there and returns true (a user is needed); otherwise false.
bool FillTemplateText(std::string_view text, const TemplateValues& values, std::string& head, std::string* tail);

// Fills the file wwwroot/<fileName> for the connection, with the user macros
// of its identified user. A missing or unreadable file gives an empty head
// and tail. Returns whether user data was needed and the connection has no
// user. Takes the accounts lock itself (the caller must not hold it).
bool FillTemplate(const ConnectionRecord& record, const std::string& fileName, std::string& head, std::string* tail);

// '&', '<', '>', '"' and '\'' as character references.
std::string HtmlEscape(std::string_view text);

}  // namespace brindlex
