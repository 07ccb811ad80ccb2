// The ARP table text and MAC address forms.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/arp_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brindlex;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  FindMacInTable(text, 0x0A000005u);
  ParseMacText(text);
  ParseMacDigits(text);
  return 0;
}
