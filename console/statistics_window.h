// The statistics window without its widgets: whose figures it shows, for
// which dates, at which level, the rows of the last load and what the buttons
// may do. The widget forwards the administrator's actions here and repaints
// from the accessors; it owns only the registry of open windows and the
// dialogs.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "console/console_engine.h"
#include "core/display_forms.h"
#include "stats/statistics.h"
#include "stats/statistics_view.h"

namespace brindlex {

// Whose statistics a window shows: a user (id, login, full name), a group
// (number, name) or the whole program.
struct StatisticsWindowSubject {
  StatisticsSubject kind = StatisticsSubject::kAll;
  std::uint32_t id = 0;  // the user's id or the group's number
  std::string login;     // a user's login
  std::string name;      // a user's full name or a group's name
};
StatisticsWindowSubject StatisticsSubjectOfUser(const ConsoleUser& user);
StatisticsWindowSubject StatisticsSubjectOfGroup(const ConsoleGroup& group);

// The registry's key: at most one window per user, per group and one for
// the whole program (whose id is always 0).
struct StatisticsWindowKey {
  StatisticsSubject kind = StatisticsSubject::kAll;
  std::uint32_t id = 0;
  auto operator<=>(const StatisticsWindowKey&) const = default;
};
StatisticsWindowKey KeyOf(const StatisticsWindowSubject& subject);

// What a load ended in: the rows are shown, or the window was closed while
// loading and must be destroyed now. kNothing: the action did not apply
// (a load is running, there is no deeper or upper level, a date is wrong).
enum class StatisticsStep { kShown, kClose, kNothing };

struct DateWarning {
  std::string caption;
  std::string text;
};

struct RefreshOutcome {
  StatisticsStep step = StatisticsStep::kNothing;
  std::optional<DateWarning> warning;
};

// What "add to filter" hands to the URL filter editor.
struct FilterAddition {
  std::string text;  // the host (level 1) or the URL (level 2)
  bool isHost = false;
};

class StatisticsWindow {
 public:
  // `processPendingEvents` runs whenever the engine asks whether to stop a
  // load, so that a close request can arrive meanwhile; it may be empty.
  // Period views: the dates the users page shows (date-time reals).
  StatisticsWindow(ConsoleEngine& engine, StatisticsWindowSubject subject, double start, double end,
                   std::function<void()> processPendingEvents = {});
  // Ticket views: the user's subscription from its opening to now; the dates
  // cannot be edited.
  StatisticsWindow(ConsoleEngine& engine, const ConsoleUser& ticketUser,
                   std::function<void()> processPendingEvents = {});

  // The first load, when the window opens.
  StatisticsStep Open();
  // "Refresh": the level's dates from the edits' texts. A text that is not a
  // date keeps both dates as they were, loads nothing and gives the warning.
  // In ticket mode the texts are ignored and the end moves on to now.
  RefreshOutcome Refresh(const std::string& startText, const std::string& endText);
  // One level deeper for the selected row (not beyond the URLs).
  StatisticsStep Forward();
  // One level up: the upper level's query read again (the logs may have
  // grown since), with the row that was chosen there selected.
  StatisticsStep Back();

  // Closing: refused (and the load told to stop) while loading.
  bool RequestClose();

  // A date edit changed: the refresh button blinks until the next load.
  void MarkDatesEdited() { datesEdited_ = true; }
  bool DatesEdited() const { return datesEdited_; }
  // Asked every 250 ms: whether the refresh button shows highlighted now.
  // It alternates while the dates are edited and stays off otherwise.
  bool BlinkTick();

  void Select(int row);  // an index into Rows(); -1 for none
  void SortBy(int column);
  void SetUnit(TrafficUnit unit) { trafficForm_.unit = unit; }

  const StatisticsWindowSubject& Subject() const { return subject_; }
  const StatisticsQuery& Query() const { return query_; }
  StatisticsLevel Level() const { return query_.level; }
  TrafficUnit Unit() const { return trafficForm_.unit; }
  // The unit with the overhead and megabyte the gateway had at the last load.
  const StatisticsTrafficForm& TrafficForm() const { return trafficForm_; }
  bool TicketMode() const { return ticketMode_; }
  bool DatesEditable() const { return !ticketMode_; }
  bool Loading() const { return loading_; }
  bool CanGoForward() const { return query_.level != StatisticsLevel::kUrls; }
  bool CanGoBack() const { return !upper_.empty(); }
  // The texts of the two date edits: the level's start and end.
  std::string StartText() const;
  std::string EndText() const;
  std::string Caption() const;

  // The grid's rows and the totals footer apart.
  std::span<const StatisticsRow> Rows() const;
  const StatisticsRow& Totals() const { return rows_.back(); }
  int Selected() const { return selected_; }

  // The text beside "add to filter": the selected host or URL, else empty.
  std::string SelectedLabel() const;
  bool AddToFilterEnabled() const { return !SelectedLabel().empty(); }
  std::optional<FilterAddition> AddToFilter() const;

 private:
  // One level as it was left, for going back.
  struct UpperLevel {
    StatisticsQuery query;
    std::string selectedLabel;  // the row that was chosen, found again by its label
  };

  // Loads `query`; on success it becomes the window's query with its rows.
  StatisticsStep Load(const StatisticsQuery& query);

  ConsoleEngine& engine_;
  StatisticsWindowSubject subject_;
  std::function<void()> processPendingEvents_;
  bool ticketMode_ = false;
  std::int32_t ticketNumber_ = 0;
  StatisticsQuery query_;
  StatisticsTrafficForm trafficForm_;
  // The level's rows, the totals row last (never empty).
  std::vector<StatisticsRow> rows_;
  int selected_ = -1;
  std::vector<UpperLevel> upper_;
  bool datesEdited_ = false;
  bool blinkOn_ = false;
  bool loading_ = false;
  bool abort_ = false;
};

}  // namespace brindlex
