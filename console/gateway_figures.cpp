#include "console/gateway_figures.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "core/clock.h"
#include "core/connection.h"
#include "core/log_writer.h"
#include "core/port_map_rules.h"
#include "core/process_state.h"
#include "core/sessions.h"
#include "core/strings.h"
#include "net/listener.h"

namespace brindlex {

namespace {

// The labels of one string: its texts separated by '|'.
std::vector<std::string> Labels(int id) {
  std::vector<std::string> labels;
  const std::string text = Str(id);
  size_t start = 0;
  while (true) {
    size_t end = text.find('|', start);
    labels.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return labels;
    start = end + 1;
  }
}

// What a label needs of the column: its characters, not its bytes (the
// labels are Cyrillic, two bytes a letter).
size_t Width(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string Uptime(std::int64_t seconds) {
  seconds = std::max<std::int64_t>(seconds, 0);
  char clock[32];
  std::snprintf(clock, sizeof(clock), "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600 % 24),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  char text[128];
  std::snprintf(text, sizeof(text), Str(1299).c_str(), std::to_string(seconds / 86400).c_str(), clock);
  return text;
}

class Column {
 public:
  void Add(std::string label, std::string value) { rows_.push_back({std::move(label), std::move(value)}); }
  std::string Text() const {
    size_t width = 0;
    for (const auto& row : rows_) width = std::max(width, Width(row.first));
    std::string text;
    for (const auto& row : rows_) {
      text += row.first;
      text.append(width - Width(row.first) + 2, ' ');
      text += row.second;
      text += '\n';
    }
    return text;
  }

 private:
  std::vector<std::pair<std::string, std::string>> rows_;
};

// --- The exposition format ---------------------------------------------------

std::string EscapeLabel(std::string_view value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '"')
      escaped += "\\\"";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  }
  return escaped;
}

class Exposition {
 public:
  void Family(const char* name, const char* type, const char* help) {
    name_ = name;
    text_ += "# HELP ";
    text_ += name;
    text_ += ' ';
    text_ += help;
    text_ += "\n# TYPE ";
    text_ += name;
    text_ += ' ';
    text_ += type;
    text_ += '\n';
  }
  // One sample of the current family; `labels` as name="value" pairs.
  void Sample(std::int64_t value, std::initializer_list<std::pair<const char*, std::string_view>> labels = {}) {
    text_ += name_;
    if (labels.size() > 0) {
      text_ += '{';
      bool first = true;
      for (const auto& [label, labelValue] : labels) {
        if (!first) text_ += ',';
        first = false;
        text_ += label;
        text_ += "=\"";
        text_ += EscapeLabel(labelValue);
        text_ += '"';
      }
      text_ += '}';
    }
    text_ += ' ';
    text_ += std::to_string(value);
    text_ += '\n';
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string name_;
  std::string text_;
};

void ServiceFamily(Exposition& out, const GatewayFigures& figures, const char* name, const char* help,
                   std::int64_t ServiceCounts::*field) {
  out.Family(name, "counter", help);
  for (std::size_t i = 0; i < kCountedServices; ++i)
    out.Sample(figures.counters.services[i].*field, {{"service", ServiceKey(static_cast<std::uint8_t>(i))}});
}

}  // namespace

GatewayFigures CollectGatewayFigures(std::int64_t startedAt) {
  GatewayFigures figures;
  figures.uptimeSeconds =
      std::max<std::int64_t>(0, (ProgramClock().PerformanceCounter() - startedAt) / kPerformanceFrequency);
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    figures.connections = static_cast<std::int64_t>(ConnectionListLocked().size());
    for (const auto& record : SessionListLocked())
      figures.usersOnline += static_cast<std::int64_t>(record->userSessions.size());
  }
  figures.logLinesWaiting = static_cast<std::int64_t>(PendingLogLineCount());
  figures.logBytesWaiting = static_cast<std::int64_t>(PendingLogByteCount());
  figures.logLinesLost = static_cast<std::int64_t>(LostLogLineCount());
  for (const ListeningPort& port : ListeningPorts())
    figures.ports.push_back({port.service, "", port.port, port.listening});
  for (const PortMapRule& rule : PortMapRules()) {
    if (rule.disabled) continue;
    figures.ports.push_back({rule.IsUdp() ? kServicePortMapUdp : kServicePortMapTcp, rule.name, rule.listenPort,
                             rule.socket != nullptr});
  }
  figures.counters = TakeCounterSnapshot();
  return figures;
}

std::string FormatStatus(const GatewayFigures& figures) {
  const std::vector<std::string> gateway = Labels(1295);
  const std::vector<std::string> service = Labels(1296);
  const std::vector<std::string> dns = Labels(1297);
  const std::vector<std::string> cache = Labels(1298);
  Column column;
  column.Add(gateway.at(0), Uptime(figures.uptimeSeconds));
  column.Add(gateway.at(1), std::to_string(figures.connections));
  column.Add(gateway.at(2), std::to_string(figures.usersOnline));
  column.Add(gateway.at(3), std::to_string(figures.logLinesWaiting));
  column.Add(gateway.at(4), std::to_string(figures.logBytesWaiting));
  column.Add(gateway.at(5), std::to_string(figures.logLinesLost));
  for (std::size_t i = 0; i < kCountedServices; ++i) {
    const std::string key(ServiceKey(static_cast<std::uint8_t>(i)));
    const ServiceCounts& counts = figures.counters.services[i];
    bool hasPort = false;
    for (const ServicePortFigure& port : figures.ports) {
      if (port.service != i) continue;
      hasPort = true;
      std::string label = key + ", " + service.at(0) + " " + std::to_string(port.port);
      if (!port.rule.empty()) label += " (" + port.rule + ")";
      column.Add(std::move(label), port.listening ? service.at(1) : service.at(2));
    }
    if (!hasPort && counts == ServiceCounts{}) continue;
    column.Add(key + ": " + service.at(3), std::to_string(counts.accepted));
    column.Add(key + ": " + service.at(4), std::to_string(counts.bytesFromClients));
    column.Add(key + ": " + service.at(5), std::to_string(counts.bytesToClients));
    column.Add(key + ": " + service.at(6), std::to_string(counts.refused));
  }
  column.Add(dns.at(0), std::to_string(figures.counters.dnsAnsweredLocally));
  column.Add(dns.at(1), std::to_string(figures.counters.dnsForwarded));
  column.Add(dns.at(2), std::to_string(figures.counters.dnsRefused));
  column.Add(cache.at(0), std::to_string(figures.counters.cacheHits));
  column.Add(cache.at(1), std::to_string(figures.counters.cacheMisses));
  column.Add(cache.at(2), std::to_string(figures.counters.cacheBytes));
  return column.Text();
}

std::string MetricsText(const GatewayFigures& figures) {
  Exposition out;
  out.Family("brindlex_uptime_seconds", "gauge", "Seconds since the gateway started.");
  out.Sample(figures.uptimeSeconds);
  out.Family("brindlex_connections", "gauge", "Connection records open now.");
  out.Sample(figures.connections);
  out.Family("brindlex_users_online", "gauge", "User sessions open now.");
  out.Sample(figures.usersOnline);
  out.Family("brindlex_log_queue_lines", "gauge", "Log lines waiting in memory for the disk.");
  out.Sample(figures.logLinesWaiting);
  out.Family("brindlex_log_queue_bytes", "gauge", "Bytes of the log lines waiting in memory for the disk.");
  out.Sample(figures.logBytesWaiting);
  out.Family("brindlex_log_lines_lost_total", "counter", "Log lines lost because the waiting queue was full.");
  out.Sample(figures.logLinesLost);
  out.Family("brindlex_listening", "gauge", "1 when the port the settings ask for is open, 0 when it could not be.");
  for (const ServicePortFigure& port : figures.ports) {
    const std::string number = std::to_string(port.port);
    const std::string_view key = ServiceKey(port.service);
    if (port.rule.empty())
      out.Sample(port.listening ? 1 : 0, {{"service", key}, {"port", number}});
    else
      out.Sample(port.listening ? 1 : 0, {{"service", key}, {"port", number}, {"rule", port.rule}});
  }
  ServiceFamily(out, figures, "brindlex_connections_accepted_total", "Connections accepted, by service.",
                &ServiceCounts::accepted);
  ServiceFamily(out, figures, "brindlex_bytes_from_clients_total",
                "Bytes relayed toward the Internet on clients' behalf, by service.", &ServiceCounts::bytesFromClients);
  ServiceFamily(out, figures, "brindlex_bytes_to_clients_total",
                "Bytes relayed from the Internet to clients, by service.", &ServiceCounts::bytesToClients);
  ServiceFamily(out, figures, "brindlex_refusals_total", "Requests and connections refused, by service.",
                &ServiceCounts::refused);
  out.Family("brindlex_dns_queries_total", "counter", "DNS queries by what became of them.");
  out.Sample(figures.counters.dnsAnsweredLocally, {{"outcome", "local"}});
  out.Sample(figures.counters.dnsForwarded, {{"outcome", "forwarded"}});
  out.Sample(figures.counters.dnsRefused, {{"outcome", "refused"}});
  out.Family("brindlex_cache_hits_total", "counter", "HTTP requests answered from the disk cache.");
  out.Sample(figures.counters.cacheHits);
  out.Family("brindlex_cache_misses_total", "counter", "HTTP cache lookups that did not end in an answer from it.");
  out.Sample(figures.counters.cacheMisses);
  out.Family("brindlex_cache_served_bytes_total", "counter", "Bytes served to clients from the disk cache.");
  out.Sample(figures.counters.cacheBytes);
  return out.Take();
}

}  // namespace brindlex
