// The gateway's figures at one moment: what `brindlex status` prints and what
// the metrics page serves. The record is plain data, so it can be collected in
// the gateway and carried to another process; the two texts are pure
// functions of it.
//
// Threads: FormatStatus and MetricsText are pure (any thread);
// CollectGatewayFigures reads the engine's shared state under its locks and
// may be called from any thread.
//
// The collector lives here rather than in core/ because the listener's open
// ports come from net/, and here rather than in app/ because the
// administration channel's server, in this folder, serves the same record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/service_counters.h"

namespace brindlex {

struct ServicePortFigure {
  std::uint8_t service = 0;  // the connection record's service number
  std::string rule;          // the port-mapping rule's name; empty for other services
  int port = 0;
  bool listening = false;
  bool operator==(const ServicePortFigure&) const = default;
};

struct GatewayFigures {
  std::int64_t uptimeSeconds = 0;  // monotonic, since start-up
  std::int64_t connections = 0;    // connection records
  std::int64_t usersOnline = 0;    // user sessions
  std::int64_t logLinesWaiting = 0;
  std::int64_t logBytesWaiting = 0;
  std::int64_t logLinesLost = 0;
  std::vector<ServicePortFigure> ports;
  CounterSnapshot counters;
  bool operator==(const GatewayFigures&) const = default;
};

// The figures now; `startedAt` is the program clock's count at start-up.
GatewayFigures CollectGatewayFigures(std::int64_t startedAt);

// Plain text for an administrator: one figure per line, label and value, the
// values in one column. A service appears when it has a port or anything
// counted.
std::string FormatStatus(const GatewayFigures& figures);

// The figures in the Prometheus text exposition format (version 0.0.4): each
// family with # HELP and # TYPE, names prefixed brindlex_, counters ending in
// _total, services as the label service="http" etc.
std::string MetricsText(const GatewayFigures& figures);

}  // namespace brindlex
