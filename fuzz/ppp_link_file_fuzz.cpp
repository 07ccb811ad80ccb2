// pppd's link file: a pid and an interface name.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dialup/ppp_peers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brindlex;
  PppLinkFile link;
  ParsePppLinkFile(std::string_view(reinterpret_cast<const char*>(data), size), link);
  return 0;
}
