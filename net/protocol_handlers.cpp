#include "net/protocol_handlers.h"

#include <array>

#include "core/connection.h"

namespace brindlex {

namespace {

bool DiscardClientInput(ConnectionRecord& record) {
  record.clientInLength = 0;
  return true;
}

void DiscardServerInput(ConnectionRecord& record) { record.serverInLength = 0; }

constexpr size_t kServiceCount = 9;

std::array<ProtocolHandlers, kServiceCount>& Table() {
  static std::array<ProtocolHandlers, kServiceCount> table = [] {
    std::array<ProtocolHandlers, kServiceCount> t;
    for (auto& handlers : t) {
      handlers.clientInput = DiscardClientInput;
      handlers.serverInput = DiscardServerInput;
    }
    return t;
  }();
  return table;
}

}  // namespace

const ProtocolHandlers& HandlersOf(std::uint8_t service) {
  static const ProtocolHandlers kNone{.clientInput = DiscardClientInput, .serverInput = DiscardServerInput};
  return service < kServiceCount ? Table()[service] : kNone;
}

void RegisterProtocolHandlers(std::uint8_t service, const ProtocolHandlers& handlers) {
  if (service >= kServiceCount) return;
  ProtocolHandlers& slot = Table()[service];
  slot = handlers;
  if (!slot.clientInput) slot.clientInput = DiscardClientInput;
  if (!slot.serverInput) slot.serverInput = DiscardServerInput;
}

}  // namespace brindlex
