#include "console/statistics_window.h"

#include <utility>

#include "core/clock.h"
#include "core/date_time.h"
#include "core/strings.h"
#include "stats/statistics_view.h"

namespace brindlex {

namespace {

// What the window holds before its first load and after an aborted one: the
// totals row alone, so that the footer always has a row to show.
std::vector<StatisticsRow> NoRows() { return {StatisticsRow{Str(813)}}; }

// A date edit shows the time of day only when there is one (the ticket's
// opening, an hour chosen at level 0).
std::string DateText(double dateTime) {
  const std::int64_t seconds = DateTimeToLocalSeconds(dateTime);
  const std::tm tm = LocalTm(seconds);
  if (tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0) return FormatShortDate(seconds);
  return FormatDateAndTime(seconds);
}

std::optional<double> ParseDate(const std::string& text) {
  std::int64_t seconds = 0;
  bool hasTime = false;
  if (!ParseDateAndTime(text, seconds, hasTime)) return std::nullopt;
  return LocalSecondsToDateTime(seconds);
}

}  // namespace

StatisticsWindowSubject StatisticsSubjectOfUser(const ConsoleUser& user) {
  return {StatisticsSubject::kUser, user.id, user.login, user.name};
}

StatisticsWindowSubject StatisticsSubjectOfGroup(const ConsoleGroup& group) {
  return {StatisticsSubject::kGroup, group.number, "", group.name};
}

StatisticsWindowKey KeyOf(const StatisticsWindowSubject& subject) {
  return {subject.kind, subject.kind == StatisticsSubject::kAll ? 0 : subject.id};
}

StatisticsWindow::StatisticsWindow(ConsoleEngine& engine, StatisticsWindowSubject subject, double start, double end,
                                   std::function<void()> processPendingEvents)
    : engine_(engine),
      subject_(std::move(subject)),
      processPendingEvents_(std::move(processPendingEvents)),
      rows_(NoRows()) {
  query_.subject = subject_.kind;
  query_.login = subject_.login;
  query_.groupNumber = subject_.id;
  query_.start = start;
  query_.end = end;
}

StatisticsWindow::StatisticsWindow(ConsoleEngine& engine, const ConsoleUser& ticketUser,
                                   std::function<void()> processPendingEvents)
    : StatisticsWindow(engine, StatisticsSubjectOfUser(ticketUser), ticketUser.ticketOpenedAt, DateTimeNow(),
                       std::move(processPendingEvents)) {
  ticketMode_ = true;
  ticketNumber_ = ticketUser.ticketNumber;
}

StatisticsStep StatisticsWindow::Open() {
  if (loading_) return StatisticsStep::kNothing;
  return Load(query_);
}

RefreshOutcome StatisticsWindow::Refresh(const std::string& startText, const std::string& endText) {
  if (loading_) return {};
  StatisticsQuery query = query_;
  if (ticketMode_) {
    if (query.level == StatisticsLevel::kDays) query.end = DateTimeNow();
  } else {
    const std::optional<double> start = ParseDate(startText);
    const std::optional<double> end = ParseDate(endText);
    if (!start || !end) return {StatisticsStep::kNothing, DateWarning{Str(780), Str(783)}};
    // An hour chosen at level 0 stays an hour only while its dates stay.
    if (*start != query.start || *end != query.end) query.hourWindow = false;
    query.start = *start;
    query.end = *end;
  }
  return {Load(query), std::nullopt};
}

StatisticsStep StatisticsWindow::Forward() {
  if (loading_ || !CanGoForward()) return StatisticsStep::kNothing;
  const StatisticsQuery deeper = DeeperStatisticsQuery(query_, selected_ >= 0 ? &rows_[selected_] : nullptr);
  UpperLevel upper{query_, selected_ >= 0 ? rows_[selected_].label : std::string()};
  const StatisticsStep step = Load(deeper);
  if (step == StatisticsStep::kShown) upper_.push_back(std::move(upper));
  return step;
}

StatisticsStep StatisticsWindow::Back() {
  if (loading_ || upper_.empty()) return StatisticsStep::kNothing;
  const UpperLevel upper = std::move(upper_.back());
  upper_.pop_back();
  const StatisticsStep step = Load(upper.query);
  if (step != StatisticsStep::kShown) return step;
  // The totals row (last) is not a row to choose.
  for (std::size_t row = 0; row + 1 < rows_.size(); ++row)
    if (rows_[row].label == upper.selectedLabel) selected_ = static_cast<int>(row);
  return step;
}

bool StatisticsWindow::RequestClose() {
  if (loading_) abort_ = true;
  return !loading_;
}

bool StatisticsWindow::BlinkTick() {
  blinkOn_ = datesEdited_ && !blinkOn_;
  return blinkOn_;
}

void StatisticsWindow::Select(int row) {
  selected_ = row >= 0 && static_cast<std::size_t>(row) < Rows().size() ? row : -1;
}

void StatisticsWindow::SortBy(int column) {
  const std::string label = selected_ >= 0 ? rows_[selected_].label : std::string();
  SortStatisticsRows(rows_, query_.level, column);
  if (selected_ < 0) return;
  // The selection stays on its row; labels are unique within a level.
  for (std::size_t i = 0; i < Rows().size(); ++i)
    if (rows_[i].label == label) selected_ = static_cast<int>(i);
}

std::string StatisticsWindow::StartText() const { return DateText(query_.start); }

std::string StatisticsWindow::EndText() const { return DateText(query_.end); }

std::string StatisticsWindow::Caption() const {
  return StatisticsCaption(query_, {subject_.name, ticketMode_, ticketNumber_});
}

std::span<const StatisticsRow> StatisticsWindow::Rows() const {
  return std::span<const StatisticsRow>(rows_).first(rows_.size() - 1);
}

std::string StatisticsWindow::SelectedLabel() const {
  if (query_.level == StatisticsLevel::kDays || selected_ < 0) return "";
  return rows_[selected_].label;
}

std::optional<FilterAddition> StatisticsWindow::AddToFilter() const {
  if (!AddToFilterEnabled()) return std::nullopt;
  return FilterAddition{SelectedLabel(), query_.level == StatisticsLevel::kHosts};
}

StatisticsStep StatisticsWindow::Load(const StatisticsQuery& query) {
  datesEdited_ = false;
  blinkOn_ = false;
  loading_ = true;
  abort_ = false;
  std::vector<StatisticsRow> rows = engine_.Statistics(query, [this] {
    if (processPendingEvents_) processPendingEvents_();
    return abort_;
  });
  loading_ = false;
  if (abort_) {
    // The window was closed meanwhile: what was read is incomplete.
    rows_ = NoRows();
    upper_.clear();
    selected_ = -1;
    return StatisticsStep::kClose;
  }
  // The figures are the gateway's: its overhead and megabyte as they are now,
  // so that the window and the users grid agree.
  const UsersSnapshot settings = engine_.Users();
  trafficForm_.overheadPercent = settings.trafficOverheadPercent;
  trafficForm_.bytesPerMb = settings.bytesPerMb;
  query_ = query;
  rows_ = rows.empty() ? NoRows() : std::move(rows);
  selected_ = rows_.size() > 1 ? 0 : -1;
  return StatisticsStep::kShown;
}

}  // namespace brindlex
