// The rules the group and user pages share: the e-mail reports, the counted
// traffic directions, the six limits and the allowed services, bound to the
// AccessRules of the page's draft. On a user's page each limit that differs
// from the group's is drawn highlighted.
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "console/qt/number_edits.h"
#include "core/access_rules.h"

class QBoxLayout;

namespace brindlex {

class RulesFields {
 public:
  // `edited(bits)` marks the page changed.
  RulesFields(QWidget* parent, std::function<void(int bits)> edited);
  // The group boxes, for the page to place.
  QWidget* Reports() { return reports_; }
  QWidget* Directions() { return directions_; }
  QWidget* Limits() { return limits_; }
  QWidget* Services() { return services_; }
  // `rules` is the draft's; `group` the group's rules on a user's page.
  void Bind(AccessRules* rules, const AccessRules* group);
  void Fill();
  ConfigBox Commit() { return numbers_.Commit(); }
  NumberEdits& Numbers() { return numbers_; }

 private:
  void Highlight();

  std::function<void(int)> edited_;
  AccessRules* rules_ = nullptr;
  const AccessRules* group_ = nullptr;
  NumberEdits numbers_;
  std::vector<std::pair<QCheckBox*, bool AccessRules::*>> flags_;
  std::array<QCheckBox*, kServiceColumns> allowed_{};
  std::array<QLineEdit*, 6> limitEdits_{};
  QWidget* reports_ = nullptr;
  QWidget* directions_ = nullptr;
  QWidget* limits_ = nullptr;
  QWidget* services_ = nullptr;
};

}  // namespace brindlex
