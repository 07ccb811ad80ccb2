#include "console/filter_dialog.h"

#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

std::vector<std::string> FilterKindNames() {
  std::vector<std::string> names;
  const std::string all = Str(977);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    names.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::array<std::string, 2> FilterColumnTitles() { return {Str(1130), Str(1131)}; }

std::array<std::string, 2> FilterRow(const FilterEntry& entry) {
  const std::vector<std::string> kinds = FilterKindNames();
  return {entry.pattern, entry.kind < kinds.size() ? kinds[entry.kind] : std::string()};
}

FilterAdditionRequest AdditionFromMonitor(const FilterRequest& request) {
  return {StatisticsSubject::kUser, request.userId, request.url, kFilterUrl};
}

FilterAdditionRequest AdditionFromStatistics(const StatisticsWindowSubject& subject, const FilterAddition& addition) {
  return {subject.kind, subject.id, addition.text, addition.isHost ? kFilterHost : kFilterUrl};
}

FilterAdditionDialog::FilterAdditionDialog(ConsoleEngine& engine, FilterAdditionRequest request)
    : pattern(request.pattern),
      kind(request.kind),
      engine_(engine),
      request_(std::move(request)),
      choice_(engine_.FilterChoice(request_.subject, request_.id)),
      scope_(choice_.proposed) {}

bool FilterAdditionDialog::Offers(FilterAdditionScope scope) const {
  switch (scope) {
    case FilterAdditionScope::kUser:
      return choice_.userEnabled;
    case FilterAdditionScope::kGroup:
      return choice_.groupEnabled;
    case FilterAdditionScope::kGlobal:
      return true;
  }
  return false;
}

void FilterAdditionDialog::Choose(FilterAdditionScope scope) {
  if (Offers(scope)) scope_ = scope;
}

FilterAdditionDialog::Ok FilterAdditionDialog::Accept() {
  if (Trim(pattern).empty()) return Ok::kFocusPattern;
  return engine_.AddDenyFilter(request_.subject, request_.id, scope_, kind, pattern) ? Ok::kAdded : Ok::kNotAdded;
}

}  // namespace brindlex
