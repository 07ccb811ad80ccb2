#include "console/captions.h"

#include <charconv>

#include "core/strings.h"

namespace brindlex {

std::string LocalisedCaption(std::string_view caption) {
  if (caption.size() < 2 || caption.front() != '#') return std::string(caption);
  int number = 0;
  const char* end = caption.data() + caption.size();
  const auto [stop, error] = std::from_chars(caption.data() + 1, end, number);
  if (error != std::errc() || stop != end) return std::string(caption);
  return Str(number);
}

}  // namespace brindlex
