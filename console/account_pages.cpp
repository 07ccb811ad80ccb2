#include "console/account_pages.h"

#include "console/editor_pages.h"
#include "core/strings.h"

namespace brindlex {

namespace {

bool InGrid(int day, int hour) { return day >= 0 && day < kScheduleDays && hour >= 0 && hour < kScheduleHoursPerDay; }

}  // namespace

std::string ScheduleRowTitle(int day) { return Str(455 + day); }

bool PaintScheduleHour(Schedule& schedule, int day, int hour, bool mark) {
  if (!InGrid(day, hour)) return false;
  std::uint8_t& cell = schedule[static_cast<size_t>(day * kScheduleHoursPerDay + hour)];
  const std::uint8_t wanted = mark ? 1 : 0;
  if (cell == wanted) return false;
  cell = wanted;
  return true;
}

bool MarkWholeSchedule(Schedule& schedule, bool mark) {
  Schedule wanted{};
  if (mark) wanted = FullSchedule();
  if (schedule == wanted) return false;
  schedule = wanted;
  return true;
}

bool HourGreyed(const Schedule& user, const Schedule& group, int day, int hour) {
  return ScheduleAllows(user, day, hour) && !ScheduleAllows(group, day, hour);
}

std::array<bool, 6> LimitsDifferingFromGroup(const AccessRules& user, const AccessRules& group) {
  return {user.monthMinutes != group.monthMinutes, user.monthMb != group.monthMb,
          user.dayMinutes != group.dayMinutes,     user.dayMb != group.dayMb,
          user.speedNormal != group.speedNormal,   user.speedExceeded != group.speedExceeded};
}

void AccountPageEditor::Finish(const std::function<void()>& fill, bool isNew) {
  isNew_ = isNew;
  selectedEmail_ = -1;
  if (fill) fill();
  mask_.EndLoad();
  if (isNew) mask_.Mark(kChangedAny);
}

bool AccountPageEditor::LoadGroup(std::uint32_t number, const std::function<void()>& fill) {
  mask_.BeginLoad();
  std::optional<GroupRecord> group = engine_.ConfigGroup(number);
  if (!group) {
    mask_.EndLoad();
    return false;
  }
  showsUser_ = false;
  id_ = number;
  group_ = std::move(*group);
  Finish(fill, false);
  return true;
}

void AccountPageEditor::NewGroup(const std::function<void()>& fill) {
  mask_.BeginLoad();
  showsUser_ = false;
  group_ = engine_.NewConfigGroup();
  id_ = group_.number;
  Finish(fill, true);
}

bool AccountPageEditor::LoadUser(std::uint32_t id, const std::function<void()>& fill) {
  mask_.BeginLoad();
  std::optional<ConsoleUserDraft> user = engine_.ConfigUser(id);
  std::optional<GroupRecord> group = user ? engine_.ConfigGroup(user->groupNumber) : std::nullopt;
  if (!group) {
    mask_.EndLoad();
    return false;
  }
  showsUser_ = true;
  id_ = id;
  user_ = std::move(*user);
  group_ = std::move(*group);
  Finish(fill, false);
  return true;
}

bool AccountPageEditor::NewUser(std::uint32_t groupNumber, const std::function<void()>& fill) {
  mask_.BeginLoad();
  std::optional<ConsoleUserDraft> user = engine_.NewConfigUser(groupNumber);
  std::optional<GroupRecord> group = engine_.ConfigGroup(groupNumber);
  if (!user || !group) {
    mask_.EndLoad();
    return false;
  }
  showsUser_ = true;
  id_ = kNewUserPlace;
  user_ = std::move(*user);
  group_ = std::move(*group);
  Finish(fill, true);
  return true;
}

std::string AccountPageEditor::Header() const {
  return showsUser_ ? UserPageHeader(user_.name, user_.login) : GroupPageHeader(group_.name);
}

void AccountPageEditor::PaintHour(int day, int hour, bool mark) {
  if (PaintScheduleHour(showsUser_ ? user_.schedule : group_.schedule, day, hour, mark)) Edited();
}

void AccountPageEditor::MarkAllHours(bool mark) {
  if (MarkWholeSchedule(showsUser_ ? user_.schedule : group_.schedule, mark)) Edited();
}

ConfigBox AccountPageEditor::ChangeEmails(std::string_view answer, bool (*change)(TextList&, std::string_view)) {
  if (std::string_view value = Trim(answer); !value.empty())
    if (ConfigBox refusal = CheckEmailAddress(value); !refusal.text.empty()) return refusal;
  TextList list{user_.emails, selectedEmail_};
  bool changed = change(list, answer);
  user_.emails = std::move(list.items);
  selectedEmail_ = list.selected;
  if (changed) Edited();
  return {};
}

ConfigBox AccountPageEditor::AddEmail(std::string_view answer) { return ChangeEmails(answer, AddListEntry); }

ConfigBox AccountPageEditor::EditEmail(std::string_view answer) { return ChangeEmails(answer, EditListEntry); }

void AccountPageEditor::DeleteEmail() {
  TextList list{user_.emails, selectedEmail_};
  if (DeleteListEntry(list)) Edited();
  user_.emails = std::move(list.items);
  selectedEmail_ = list.selected;
}

void AccountPageEditor::FetchMacAddress() {
  user_.password = engine_.MacAddressOf(user_.login);
  Edited();
}

EditorApplyResult AccountPageEditor::Apply() {
  ConfigEditOutcome outcome = showsUser_ ? engine_.SaveConfigUser(user_, isNew_ ? std::nullopt : std::optional(id_))
                                         : engine_.SaveConfigGroup(group_, isNew_);
  // A refused new user's login is typed again on the page's first tab.
  if (!outcome.ok) return {false, outcome.box, showsUser_ && isNew_ ? "EdLogin" : "", 0};
  mask_.Mark(kChangedUsersView);
  const int applied = mask_.Value();
  if (showsUser_)
    LoadUser(outcome.id);
  else
    LoadGroup(outcome.id);
  return {true, {}, {}, applied};
}

ConfigEditOutcome AccountPageEditor::AskDeleteGroup(std::uint32_t number) {
  return engine_.CheckConfigGroupDeletion(number);
}

bool AccountPageEditor::DeleteGroup(std::uint32_t number) { return engine_.DeleteConfigGroup(number); }

bool AccountPageEditor::DeleteUser(std::uint32_t id) { return engine_.DeleteConfigUser(id); }

std::optional<EditorQuestion> AccountPageEditor::AskMoveUser(std::uint32_t groupNumber) {
  std::optional<GroupRecord> target = engine_.ConfigGroup(groupNumber);
  if (!target || groupNumber == user_.groupNumber) return std::nullopt;
  if (isNew_) {
    user_.groupNumber = groupNumber;
    group_ = std::move(*target);
    Edited();
    return std::nullopt;
  }
  return MoveUserQuestion(*target);
}

std::uint32_t AccountPageEditor::AnswerMoveUser(std::uint32_t groupNumber, bool yes) {
  if (!yes || isNew_) return user_.groupNumber;
  engine_.MoveConfigUser(id_, groupNumber);
  if (std::optional<ConsoleUserDraft> moved = engine_.ConfigUser(id_)) {
    user_.groupNumber = moved->groupNumber;
    if (std::optional<GroupRecord> group = engine_.ConfigGroup(moved->groupNumber)) group_ = std::move(*group);
  }
  return user_.groupNumber;
}

void AccountPageEditor::ApplyRulesToGroupUsers() { engine_.ApplyGroupRulesToUsers(group_.number); }

EditorApplyResult AccountPageEditor::ApplyGroupRulesToThisUser() {
  if (isNew_) {
    EditorApplyResult applied = Apply();
    if (!applied.ok) return applied;
  }
  engine_.ApplyGroupRulesToUser(id_);
  mask_.Mark(kChangedUsersView);
  const int applied = mask_.Value();
  LoadUser(id_);
  return {true, {}, {}, applied};
}

}  // namespace brindlex
