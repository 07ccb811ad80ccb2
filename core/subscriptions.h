// Prepaid subscriptions: the stored form of a user's TicketRecord in section
// "Tickets" (key: the login), the test that refuses a prepaid user whose
// subscription is missing or used up, the remaining amounts, the GUI-free
// operations of the subscription window (open, top up, edit, close) and the
// subscription log "Logging/Brindlex.lgt".
//
// Charging is not done here: the accounting steps add to user.ticket.used
// while the user is prepaid.
//
// Threads: a user's ticket is guarded by the accounts lock. SubscriptionTest
// and Remaining read it and expect the caller to hold that lock.
// ApplySubscription, CloseSubscription and SaveAllSubscriptions take the lock
// themselves (never call them with it held) and write the settings file only
// after releasing it; one module mutex orders their file writes so an older
// copy of a subscription never overwrites a newer one. Log lines are appended
// with a single write each, so lines from different threads never interleave.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "core/counters.h"
#include "core/date_time.h"
#include "core/display_forms.h"
#include "core/ini_file.h"
#include "core/settings.h"
#include "core/ticket.h"
#include "core/users.h"

namespace brindlex {

// What Remaining gives for an amount without limit: the smallest 64-bit
// value, the mark the display forms show as empty text.
inline constexpr std::int64_t kUnlimitedAmount = kNoValue;

inline constexpr const char* kTicketSection = "Tickets";
inline constexpr size_t kTicketValueMax = 1024;  // bytes of a stored value that are read

inline constexpr const char* kOpenTicketEvent = "OPEN_TICKET";
inline constexpr const char* kAddTicketEvent = "ADD_TICKET";
inline constexpr const char* kCloseTicketEvent = "CLOSE_TICKET";

// "dd/mm/yy, hh:nn:ss, " as the subscription log writes every date-time.
std::string FormatTicketDate(double dateTime);

// Stored form: 13 fields joined by "; " (number; openedAt and changedAt as
// number text with 4 decimals; limit outgoing, incoming, time, money,
// national money; used outgoing, incoming, time, money, national money).
// `open` is not stored: a key exists only for an open subscription.
std::string FormatTicket(const TicketRecord& ticket);
// Reads the fields of a stored value by position. A missing or unreadable
// field reads as 0; a number outside 32 bits and a date outside the years 1 to
// 9999 read as 0 too. Sets open = true. Pure and bounded; any bytes are safe.
TicketRecord ParseTicket(std::string_view stored);

// Clears the user's ticket, then reads the login's value in "Tickets" (its
// first kTicketValueMax bytes); an empty or absent value leaves no
// subscription. The caller holds the accounts lock or runs before other
// threads start.
void ReadSubscription(UserRecord& user, const IniDocument& document);
void ReadSubscription(UserRecord& user, const std::string& path);
// ReadSubscription for every user of the table. Same locking as above.
void ReadAllSubscriptions(const IniDocument& document);

// Writes the user's stored form to the settings file, or removes the key when
// no subscription is open (the key exists only for open ones). The caller keeps the
// record from changing meanwhile (holds the accounts lock or owns it alone).
// Returns false when the file could not be written.
bool WriteSubscription(const UserRecord& user);
// Writes the subscription of every user not deleted, prepaid and with one
// open; a value that the file already holds is not rewritten. Takes the
// accounts lock only to copy the tickets. Returns how many values it wrote.
int SaveAllSubscriptions();

// Pass (true) or fail. A user without prepaid passes; a prepaid user without
// an open subscription fails; otherwise it fails as soon as one limited amount
// is used up (used >= limit), traffic being corrected by CorrectTraffic first.
// REQUIRES: the accounts lock (reads the ticket).
bool SubscriptionTest(const UserRecord& user);
// limit - used per amount (traffic corrected as above, saturating), or
// kUnlimitedAmount where the limit is 0. REQUIRES: the accounts lock.
CounterBlock Remaining(const UserRecord& user);

// One line of the subscription log, "\r\n" included: event, login, now, opened,
// changed, the five limits and the five used amounts.
std::string FormatTicketLogLine(std::string_view event, std::string_view login, double now, const TicketRecord& ticket);
// Appends one line to LoggingFolder() + "/Brindlex.lgt" with a single write; a
// file that cannot be opened loses the line. Returns whether it was written.
bool AppendTicketLog(const std::string& line);
std::string TicketLogPath();

// The five values entered in the subscription window, in its row order: they
// are added to the limits, or replace them when editing directly. An empty
// field is set to "0" in place.
struct TicketEntry {
  std::string outgoingMb;
  std::string incomingMb;
  std::string minutes;
  std::string money;          // base currency
  std::string nationalMoney;  // national currency
};

struct SubscriptionOutcome {
  EditOutcome edit;         // ok, or the conversion box that stopped the operation
  std::string event;        // the logged event; empty when nothing happened
  std::string monitorText;  // event, ", ", login, ", ", now (dd/mm/yy, hh:nn:ss)
};

// Opens (when none is open, with the next CurIdTicket number), tops up or,
// with editDirectly, sets the limits; used amounts are left alone. Each entry
// must convert as a real number that is not negative and whose amount fits in
// 64 bits, and so must each new limit; the first that does not stops the
// operation before anything changes, with the conversion box. On success the
// subscription is written, the event logged and the outcome carries it.
SubscriptionOutcome ApplySubscription(UserRecord& user, TicketEntry& entry, bool editDirectly);
// Logs "CLOSE_TICKET" with the values before closing, clears the ticket and
// removes the login's key. A user without an open subscription is left alone
// (empty event).
SubscriptionOutcome CloseSubscription(UserRecord& user);

}  // namespace brindlex
