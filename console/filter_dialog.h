// The filter dialog ("Фильтр") without its window: the kinds it offers, the
// rows of the filter grids, and "Добавить в фильтр" from the monitor or the
// statistics window, which opens the dialog for a user, a group or everybody
// and appends the entry to the deny list of the scope chosen there.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_engine.h"
#include "console/monitor_view.h"
#include "console/statistics_window.h"

namespace brindlex {

// "URL", "Host", "Resource", "Extension" (string 977), in kind order.
std::vector<std::string> FilterKindNames();
// A grid's columns "Подстрока" and "Тип", and an entry's row (a kind of 4 or
// more has no name).
std::array<std::string, 2> FilterColumnTitles();
std::array<std::string, 2> FilterRow(const FilterEntry& entry);

// What the dialog is opened with for an addition.
struct FilterAdditionRequest {
  StatisticsSubject subject = StatisticsSubject::kAll;
  std::uint32_t id = 0;  // the user's table place or the group's number
  std::string pattern;
  int kind = kFilterUrl;
};
// The monitor names a user and the URL of his line.
FilterAdditionRequest AdditionFromMonitor(const FilterRequest& request);
// The statistics window names its subject and a host (level 1) or a URL.
FilterAdditionRequest AdditionFromStatistics(const StatisticsWindowSubject& subject, const FilterAddition& addition);

class FilterAdditionDialog {
 public:
  FilterAdditionDialog(ConsoleEngine& engine, FilterAdditionRequest request);

  // The scopes offered ("Глобальный" always) and the names the edits show.
  const ConsoleFilterChoice& Choice() const { return choice_; }
  bool Offers(FilterAdditionScope scope) const;

  // The fields; a scope that is not offered is not taken.
  std::string pattern;
  int kind = kFilterUrl;
  FilterAdditionScope Scope() const { return scope_; }
  void Choose(FilterAdditionScope scope);

  enum class Ok { kFocusPattern, kAdded, kNotAdded };
  // OK with an empty pattern only sends the focus back to it; otherwise the
  // entry goes to the chosen scope's deny list (kNotAdded when its record has
  // gone meanwhile).
  Ok Accept();

 private:
  ConsoleEngine& engine_;
  FilterAdditionRequest request_;
  ConsoleFilterChoice choice_;
  FilterAdditionScope scope_ = FilterAdditionScope::kGlobal;
};

}  // namespace brindlex
