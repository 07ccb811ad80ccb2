// The console's interface served by the engine in this process: snapshots are
// copied out of the engine's tables under their locks, commands act on them
// under the same locks.
#pragma once

#include "console/console_engine.h"

namespace brindlex {

class LocalEngine final : public ConsoleEngine {
 public:
  // `applySettingsFile` applies the whole settings file to the running
  // gateway (the same operation as SIGHUP); the program's entry provides it.
  explicit LocalEngine(std::function<void()> applySettingsFile = {});

  UsersSnapshot Users() override;
  void RebuildCounters(RebuildView view, std::int64_t first, std::int64_t last,
                       const std::function<void(const std::string& file, std::int64_t fileDone, std::int64_t fileSize,
                                                std::int64_t allDone, std::int64_t allSize)>& progress) override;
  void CloseUserSessions(std::uint32_t userId) override;
  void ToggleUserDisabled(std::uint32_t userId) override;

  std::optional<std::vector<ConsoleAddressSession>> SessionTree() override;
  void CloseTreeLine(TreeLineKind kind, std::uint64_t handle) override;

  StatusFigures Status() override;
  SpeedSlots SpeedHistory(SpeedSubject subject, std::uint32_t id) override;

  void SetMonitorSink(std::function<void(const std::string& line)> sink) override;
  bool MonitorShows(int monitorSwitch) override;
  void SetMonitorShows(int monitorSwitch, bool shows) override;

  std::vector<ConsoleCacheEntry> CacheEntries() override;
  CacheFigures Cache() override;
  bool DeleteCacheEntry(const std::string& url) override;
  std::string ExportCacheObject(const std::string& url) override;
  void ResetCacheFigures() override;

  std::string UserReport(std::uint32_t userId) override;
  bool SendUserMessage(std::uint32_t userId, const std::string& text) override;
  void SetMailStatusSink(std::function<void(const std::string& text)> sink) override;

  std::vector<StatisticsRow> Statistics(const StatisticsQuery& query, const std::function<bool()>& abort) override;

 private:
  std::function<void()> applySettingsFile_;
};

}  // namespace brindlex
