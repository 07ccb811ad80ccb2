// The group and user pages of the configuration editor: the draft a page
// edits, its schedule grid, apply, and the flows of the group list and the
// user page (delete, move to another group, group rules, e-mail addresses)
// with the questions the console asks first. Records reach the engine only
// through ConsoleEngine.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "console/console_engine.h"
#include "console/editor_state.h"
#include "console/text_list.h"
#include "core/account_editor.h"
#include "core/groups.h"

namespace brindlex {

// Schedule grids: 7 rows (strings 455-461) by 24 hours; a marked cell allows
// work in its hour. Each returns whether the schedule changed.
std::string ScheduleRowTitle(int day);
// Moving the mouse with the left button held marks a cell, with the right
// button held unmarks it.
bool PaintScheduleHour(Schedule& schedule, int day, int hour, bool mark);
// "Выбрать всё" and "Убрать всё".
bool MarkWholeSchedule(Schedule& schedule, bool mark);
// On a user's grid: a marked hour that the group's schedule does not allow.
bool HourGreyed(const Schedule& user, const Schedule& group, int day, int hour);

// The six limit edits of the user page, in the order month minutes, month
// megabytes, day minutes, day megabytes, normal speed, reduced speed: true
// where the user's value differs from its group's (drawn highlighted).
std::array<bool, 6> LimitsDifferingFromGroup(const AccessRules& user, const AccessRules& group);

// The place of a user that exists only in the editor: one no stored user
// has, so that the tree never takes another user's node for it.
inline constexpr std::uint32_t kNewUserPlace = UINT32_MAX;

class AccountPageEditor {
 public:
  AccountPageEditor(ConsoleEngine& engine, ChangeMask& mask) : engine_(engine), mask_(mask) {}

  // Loading a node's page; false when the record is gone. A new group or
  // user exists only here until it is applied, and the page starts changed.
  bool LoadGroup(std::uint32_t number, const std::function<void()>& fill = {});
  bool LoadUser(std::uint32_t id, const std::function<void()>& fill = {});
  void NewGroup(const std::function<void()>& fill = {});
  bool NewUser(std::uint32_t groupNumber, const std::function<void()>& fill = {});

  bool ShowsUser() const { return showsUser_; }
  bool IsNew() const { return isNew_; }
  // The group's number or the user's table place; a new user has
  // kNewUserPlace until it is applied.
  std::uint32_t Id() const { return id_; }
  std::string Header() const;

  // The drafts the widgets edit; after changing a field they call Edited.
  GroupRecord& Group() { return group_; }
  ConsoleUserDraft& User() { return user_; }
  // The user's group, for the grey hours and the highlighted limits.
  const GroupRecord& GroupOfUser() const { return group_; }
  void Edited(int bits = kChangedAny) { mask_.Mark(bits); }

  // The grid of the page shown (the group's or the user's).
  void PaintHour(int day, int hour, bool mark);
  void MarkAllHours(bool mark);

  // The user's e-mail list (User().emails) and its selection; an address
  // without '@' is refused with the box to show.
  int SelectedEmail() const { return selectedEmail_; }
  void SelectEmail(int index) { selectedEmail_ = index; }
  ConfigBox AddEmail(std::string_view answer);
  ConfigBox EditEmail(std::string_view answer);
  void DeleteEmail();

  // "Получить MAC-адрес": the password field of an address user is cleared
  // and then holds the MAC address of his login's address, when the system
  // knows one.
  void FetchMacAddress();

  // Stores the draft (bit 2: the users view is rebuilt) and loads it again.
  EditorApplyResult Apply();

  // "Удалить" on the group list: a refusal box (ok = false), or the question.
  ConfigEditOutcome AskDeleteGroup(std::uint32_t number);
  bool DeleteGroup(std::uint32_t number);
  // "Удалить" on the user list; asked with DeleteUserQuestion().
  bool DeleteUser(std::uint32_t id);

  // Another group chosen in the user page's group box: the question, or none
  // for a user not yet applied (its draft simply takes the group).
  std::optional<EditorQuestion> AskMoveUser(std::uint32_t groupNumber);
  // The answer: Yes moves and stores the user (the console then rebuilds the
  // tree and the users view); No puts the box back. Either way the group the
  // box shows afterwards.
  std::uint32_t AnswerMoveUser(std::uint32_t groupNumber, bool yes);

  // "Задать ограничения для пользователей группы" (on OK) and
  // "Установить ограничения группы" (on Yes; a new user is applied first).
  void ApplyRulesToGroupUsers();
  EditorApplyResult ApplyGroupRulesToThisUser();

 private:
  void Finish(const std::function<void()>& fill, bool isNew);
  ConfigBox ChangeEmails(std::string_view answer, bool (*change)(TextList&, std::string_view));

  ConsoleEngine& engine_;
  ChangeMask& mask_;
  bool showsUser_ = false;
  bool isNew_ = false;
  std::uint32_t id_ = 0;  // the group's number or the user's table place
  GroupRecord group_;
  ConsoleUserDraft user_;
  int selectedEmail_ = -1;
};

}  // namespace brindlex
