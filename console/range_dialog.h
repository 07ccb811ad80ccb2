// The address range dialog ("Введите диапазон адресов:", fields "от" and
// "до") without its window: the fields of an entry being edited, and the OK
// that checks both addresses and gives the range text the address lists
// hold. Adding it to a list, or finding it there already, is the text
// list's work (text_list.h).
#pragma once

#include <string>
#include <string_view>

#include "core/settings.h"

namespace brindlex {

struct RangeFields {
  std::string from;
  std::string to;
};
// An entry "a-b" as the two fields; a lone address fills both.
RangeFields RangeFieldsOf(std::string_view entry);

enum class RangeField { kNone, kFrom, kTo };
struct RangeCheck {
  EditOutcome outcome;  // ok, or the address box
  RangeField field = RangeField::kNone;
  std::string range;  // "from-to" in dotted form when ok
};
// Each field must be a dotted address ("от" first); both are rewritten in
// their normal form.
RangeCheck CheckRangeFields(RangeFields& fields);

}  // namespace brindlex
