// The additional-restrictions dialog of a group or a user ("Дополнительно")
// without its window: the access rules that the group and user pages do not
// show themselves (the services, what stays allowed after a limit is
// exceeded, the transfer sizes and the modes), as the dialog's fields, and
// its OK, which checks the numbers and writes the fields back into the rules.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/access_rules.h"
#include "core/settings.h"

namespace brindlex {

struct RestrictionFields {
  ServiceFlags allowed{};  // "Разрешенные протоколы": the inverse of protocolDenied
  ServiceFlags allowedAfterExceed{};
  std::string maxDocumentMb;
  std::string bigTransferMb;
  std::string bigTransferSpeed;
  bool finishTransfers = false;
  bool passAuthToParent = false;
  bool countCacheTraffic = false;
  bool prepaid = false;
  bool dialUpAllowed = false;  // the inverse of dialUpDenied
};

RestrictionFields RestrictionFieldsOf(const AccessRules& rules);

// The six services' captions, in ServiceColumn order.
std::vector<std::string> ServiceColumnNames();

enum class RestrictionField { kNone, kMaxDocumentMb, kBigTransferMb, kBigTransferSpeed };
struct RestrictionCheck {
  EditOutcome outcome;  // ok, or the conversion box
  RestrictionField field = RestrictionField::kNone;
};
// OK: the three numbers, in the dialog's order, must each be a number with
// decimals that is not negative (an empty field is 0); the first that is not
// stops the OK with the focus on it and leaves `rules` unchanged. Otherwise
// every field is written into `rules` and the numbers are rewritten.
RestrictionCheck ApplyRestrictionFields(RestrictionFields& fields, AccessRules& rules);

}  // namespace brindlex
