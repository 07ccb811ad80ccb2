#include "console/range_dialog.h"

#include "core/value_codec.h"

namespace brindlex {

RangeFields RangeFieldsOf(std::string_view entry) {
  const size_t dash = entry.find('-');
  if (dash == std::string_view::npos) {
    const std::string single(Trim(entry));
    return {single, single};
  }
  return {std::string(Trim(entry.substr(0, dash))), std::string(Trim(entry.substr(dash + 1)))};
}

RangeCheck CheckRangeFields(RangeFields& fields) {
  Ipv4 address = 0;
  EditOutcome from = CheckAddressField(fields.from, address);
  if (!from.ok) return {from, RangeField::kFrom, {}};
  EditOutcome to = CheckAddressField(fields.to, address);
  if (!to.ok) return {to, RangeField::kTo, {}};
  return {{}, RangeField::kNone, fields.from + "-" + fields.to};
}

}  // namespace brindlex
